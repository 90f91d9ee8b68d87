// The registry on POSIX. Keys below HKEY_LOCAL_MACHINE\SOFTWARE live in one
// REGEDIT4 text file that every run of the program shares: each change locks
// the file, reads it again, changes only its own key or value and replaces the
// file atomically. Keys below HKEY_LOCAL_MACHINE\SYSTEM are answered by a
// read-only view given at construction (none: those keys do not exist).
#pragma once

#include "platform/Registry.h"

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace marlet {

class PosixRegistry : public IRegistry {
public:
    // systemKeys, when given, must outlive this object.
    explicit PosixRegistry(std::string storePath, IRegistry* systemKeys = nullptr);
    ~PosixRegistry() override;
    PosixRegistry(const PosixRegistry&) = delete;
    PosixRegistry& operator=(const PosixRegistry&) = delete;

    // ${XDG_CONFIG_HOME:-$HOME/.config}/marlet-downloader/registry.reg; empty
    // when no home folder can be found.
    static std::string DefaultStorePath();

    RegKey OpenKey(RegKey parent, const std::string& subKey, Access access) override;
    RegKey CreateKey(RegKey parent, const std::string& subKey) override;
    void CloseKey(RegKey key) override;
    bool QueryValue(RegKey key, const std::string& name, RegValue& value) override;
    bool SetValue(RegKey key, const std::string& name, uint32_t type, const std::string& data) override;
    bool EnumKey(RegKey key, uint32_t index, std::string& name) override;

    const std::string& StorePath() const { return storePath_; }

    // The file's content as loaded: sections in file order, each with its
    // path split at the backslashes (hive name first) and its values in order.
    struct NamedValue {
        std::string name;
        RegValue value;
    };
    struct Section {
        std::vector<std::string> parts;
        std::vector<NamedValue> values;
    };
    struct Store {
        std::vector<Section> sections;
        bool broken = false; // some of the text could not be parsed
    };
    static Store Parse(const std::string& text);
    static std::string Format(const Store& store);

private:
    // An open key: either a key of the file (its path below
    // HKEY_LOCAL_MACHINE) or a key of the system view (its handle there).
    struct Handle {
        bool delegated = false;
        RegKey inner = 0;
        std::vector<std::string> path;
        bool writable = false;
    };
    enum class Route { None, File, Delegate };
    // Where subKey below parent lives: for File the full path below
    // HKEY_LOCAL_MACHINE, for Delegate the parent to give the system view.
    Route Locate(RegKey parent, const std::string& subKey, std::vector<std::string>& path,
                 RegKey& innerParent);
    RegKey Issue(const Handle& handle);

    // Identity of the file the cache was loaded from.
    struct FileStamp {
        uint64_t device = 0, inode = 0;
        int64_t size = 0, mtimeSec = 0, mtimeNsec = 0, ctimeSec = 0, ctimeNsec = 0;
        bool operator==(const FileStamp&) const = default;
    };
    // The store as it is now, parsed again only when the file changed.
    const Store& Current();
    void DropCache();
    void KeepCache(int fd, Store store);
    // Runs change on a freshly read store under the exclusive lock and writes
    // the result when change reports that it changed something.
    bool Modify(const std::function<bool(Store&)>& change);
    bool KeepBrokenCopy(const std::string& original);

    std::string storePath_;
    IRegistry* systemKeys_;
    std::map<RegKey, Handle> handles_;
    RegKey next_ = 0x10000;

    // The cached file stays open so that its inode cannot be reused by a
    // later version of the store while the cache claims to describe it.
    int cacheFd_ = -1;
    FileStamp cacheStamp_;
    Store cache_;
};

} // namespace marlet
