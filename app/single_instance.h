#pragma once
// One updater per program folder: two would share the journals, the serial store and the side
// files beside the program, and each would hold a link to the lobby.
#include <string>

#include "framework/scoped_handle.h"

class SingleInstance {
public:
    // True when no other updater of `folder` runs; this one then holds the folder until it
    // ends. Touches no file.
    bool Claim(const std::string& folder);

    // Restores and raises the main window of the updater that holds `folder`, if it shows one.
    static void BringFirstToFront(const std::string& folder);

private:
    ScopedKernelHandle m_mutex;
};
