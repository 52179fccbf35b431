#include "package/install_record.h"

InstallRecord::InstallRecord(std::string path) : m_path(std::move(path)) {}

std::string InstallRecord::DefaultPath() { return std::string(); }

void InstallRecord::Load() {}

std::string InstallRecord::HashIfUnchanged(const std::string&, uint64_t, uint64_t) const { return std::string(); }

void InstallRecord::Remember(const std::string&, uint64_t, uint64_t, const std::string&) {}

bool InstallRecord::Save() const { return false; }
