// The log-on start that both installers register: on Windows Vista and later a Task Scheduler
// task that starts the startup agent with the highest privileges of whichever user logs on, so
// that the agent's elevated start of the connector asks for no consent; on Windows XP, which
// has neither such tasks nor consent prompts, the Run value under HKLM.
#pragma once

#include <string>

namespace kx7::installer {

// The task's name, in the root folder of the Task Scheduler library.
extern const wchar_t kLogonTaskName[];
// The Run value's key and name under HKLM.
extern const wchar_t kRunKey[];
extern const wchar_t kRunValueName[];

// For programs installed in FOLDER (no trailing backslash): the task definition as the XML text
// the Task Scheduler registers, and the Run value's command line.
std::wstring LogonTaskXml(const std::wstring& folder);
std::wstring LogonRunCommand(const std::wstring& folder);

// Whether TEXT, a registered task's XML or a Run value, starts the agent in FOLDER; the case of
// the letters does not matter, as in file names. Uninstalling one copy must leave the log-on
// start of a copy in another folder alone.
bool StartsAgentIn(const std::wstring& text, const std::wstring& folder);

}  // namespace kx7::installer
