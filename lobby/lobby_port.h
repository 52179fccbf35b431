#pragma once
// The lobby's listening port, read from its configuration file through CfgEngine.dll.

constexpr int kDefaultLobbyPort = 6123;
constexpr unsigned long kFirstValidCfgHandle = 16;  // below this, the file could not be opened

// The three calls of the configuration library; tests put their own in place.
struct CfgApi {
    unsigned long (*openFile)(const char* file, const char* second);
    int (*getValue)(unsigned long handle, const char* section, const char* key, int defaultValue);
    void (*close)(unsigned long handle);
};

// CfgEngine.dll itself.
CfgApi LobbyCfgEngine();

// Reads GameSet/UpdateSetPort from "kvgame.kcf" in the current directory. Returns false,
// leaving *port untouched, when the file can't be opened.
bool ReadLobbyPort(const CfgApi& cfg, int* port);
