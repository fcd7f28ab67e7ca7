// What the wizard asks of the machine: the existing program groups and the
// free space of a drive.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

// The existing program groups: the folders in the Start Menu Programs
// folder (all users' when is_admin and registered, else the user's own), or,
// when there is no such folder (Windows NT 3.x, nothing registered), the
// groups Program Manager lists over DDE. Failures are swallowed: the list
// holds what was found up to then. Unsorted.
std::vector<std::string> ListProgramGroups(bool is_admin);

// GetDiskFreeSpace of "X:\": bytes per sector x sectors per cluster x free
// clusters, held at 0xFFFFFFFF when it does not fit in 32 bits. False when
// the drive does not answer (no critical-error box).
bool GetDriveFreeSpace(char letter, uint32_t& free_bytes);
