// The completion actions of the run: starting the programs of the run
// entries, opening the README with the shell, and restarting Windows.
#pragma once
#include <windows.h>

#include <functional>
#include <string>

// Starts one program with RunEntryCommandLine(file_name, parameters). When
// wait is set, waits for it to end while processing window messages
// (process_messages is called for every batch of input). A program that
// cannot be started is reported with its command line, error number and the
// system's text (SRunProgramError, stop box); false then.
bool RunProgram(const std::string& file_name, const std::string& parameters, bool wait,
                const std::function<void()>& process_messages);

// Opens file with the shell's default action, owned by owner; a failure is
// reported with SReadmeOpenError (stop box). False when the shell failed.
bool OpenReadme(HWND owner, const std::string& file);

// Asks Windows to reboot (on Windows NT with the shutdown privilege
// enabled first). When that fails, shows SRestartFailed in a plain
// warning box without owner and returns false.
bool RestartWindows();

// A setup.exe that the single-file loader wrote into a folder of its own
// ("QVSxxxxx.TMP", started with /SL) is removed by the loader when it ends,
// but a restart ends the loader first: before it asks for the restart,
// setup.exe has the restart delete itself and, on Windows NT, the folder
// (the 95 family deletes files only). Nothing for any other setup.exe.
void LeaveLoaderCopyToTheRestart();
