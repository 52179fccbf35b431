#pragma once

// Enables "SeDebugPrivilege" in the process token; false when it can't (no administrator
// rights), which changes nothing for the program.
bool EnableDebugPrivilege();
