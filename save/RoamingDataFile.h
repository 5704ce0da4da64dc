#pragma once
// Scoped access to the local save file: opening locks the process-wide save-file mutex and loads
// the file into `data`; closing writes the record back when it changed (or a merge asked for it)
// and unlocks. One accessor per thread at a time: the mutex is not recursive.
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "save/RoamingData.h"

class RoamingDataFile {
public:
    // name is the file name inside documentsPath(), "roamingData" for the game.
    explicit RoamingDataFile(std::string const& name);
    ~RoamingDataFile();
    RoamingDataFile(RoamingDataFile const&) = delete;
    RoamingDataFile& operator=(RoamingDataFile const&) = delete;

    RoamingData data;

    // Save files larger than this cannot be a record: they are refused before being read.
    static size_t maxFileSize();

    // Temp files in the save and cloud folders that no writer holds were left by a killed write.
    // Removes them (start-up).
    static void removeStaleTempFiles();

    // The file's size and modification time (or why it cannot be looked at), to tell whether it
    // changed without reading it.
    static std::string fingerprint(std::string const& name);
    // A damaged record's bytes as a key, so that each damage is reported once.
    static std::string damageKey(std::vector<uint8_t> const& bytes);

private:
    void open();
    void close();
    void keepDamagedAside();

    std::string path_;
    std::unique_lock<std::mutex> lock_;
    // The file must be kept aside before it is replaced: damaged (".bad") or written by a newer
    // version (".newer").
    bool damaged_ = false;
    char const* asideSuffix_ = ".bad";
    std::vector<uint8_t> damagedBytes_;
};
