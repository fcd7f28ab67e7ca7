// What the program says to Program Manager over DDE and what it reads in
// the answers. Texts only: the conversation itself is TDDE's.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Service and topic of the conversation.
constexpr const char* ProgmanService = "PROGMAN";
// The request item that lists every group.
constexpr const char* ProgmanGroupsItem = "GROUPS";

// [CreateGroup("G")]
std::string ProgmanCreateGroupCommand(const std::string& group);
// [ShowGroup("G",1)]
std::string ProgmanShowGroupCommand(const std::string& group);
// [ReplaceItem("N")]
std::string ProgmanReplaceItemCommand(const std::string& item);
// [DeleteItem("N")]
std::string ProgmanDeleteItemCommand(const std::string& item);
// [DeleteGroup("G")]
std::string ProgmanDeleteGroupCommand(const std::string& group);

// [AddItem(...)] with the parameters command line, name, icon path, icon
// index, x, y, default directory. command and working_dir are taken as
// given: the caller quotes them when they hold spaces. Everything given:
// [AddItem(C A,"N",I,X,,,W)]; only C and N: [AddItem(C,"N",,)].
std::string ProgmanAddItemCommand(const std::string& command, const std::string& parameters,
                                  const std::string& name, const std::string& icon_file,
                                  int32_t icon_index, const std::string& working_dir);

// The reply to "GROUPS" as text (read up to the first NUL or size bytes)
// split into group names: each name ends at a carriage return, and the
// next one starts two characters further on (after the line feed). A last
// name without a carriage return is taken as it stands.
std::vector<std::string> ProgmanParseGroups(const char* data, size_t size);

// Scans a group's description ("name",group file,item count,...): past
// two double quotes, then past two commas. Returns false when any of the
// four is missing; otherwise count_start is the offset of the item count.
// Never reads past size bytes or past a NUL.
bool ProgmanFindItemCount(const char* data, size_t size, size_t& count_start);

// True when the description says the group holds no items: its item count
// starts with the digit 0. Raises "An error occured while trying to request
// data from Progman using DDE." when the description cannot be scanned.
bool ProgmanGroupIsEmpty(const char* data, size_t size);
