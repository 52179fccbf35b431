#include "lobby/lobby_port.h"

#include "components/cfgengine/CfgEngine.h"

CfgApi LobbyCfgEngine() { return CfgApi{cfgOpenFile, cfgGetValue, cfgClose}; }

bool ReadLobbyPort(const CfgApi& cfg, int* port) {
    unsigned long handle = cfg.openFile("kvgame.kcf", "");
    if (handle < kFirstValidCfgHandle) return false;
    *port = cfg.getValue(handle, "GameSet", "UpdateSetPort", kDefaultLobbyPort);
    cfg.close(handle);
    return true;
}
