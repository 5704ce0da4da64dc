// The level loader's blocking frame (choose the file, read and inflate it, build the level data)
// beside zlib's own inflate of the same file; and the level select's per-frame save read (a
// record of 24 levels, compared with the copy it holds) beside a plain read of the same file,
// alone and while another thread holds the save file the way a cloud sync job does.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <fstream>
#include <iterator>
#include <thread>
#include <vector>

#include "level/LevelCatalog.h"
#include "menus/LevelLoaderViewController.h"
#include "os/FileSystem.h"
#include "os/Singleton.h"
#include "save/RoamingDataFile.h"
#include "testing/TestPaths.h"

namespace {

// The largest catalog level in the data archive.
std::string const& largestLevel() {
    static std::string const path = [] {
        FileSystem& fs = Singleton<FileSystem>::instance();
        fs.mount((testing_support::binaryDir() / "pak0.pak").string());
        std::string best;
        uint64_t size = 0;
        for (uint64_t i = 0; i < LevelCatalog::count(); ++i)
            if (auto f = fs.open(LevelCatalog::entry(i).path); f->size() > size)
                size = f->size(), best = LevelCatalog::entry(i).path;
        return best;
    }();
    return path;
}

void BM_LoaderLevelRead(benchmark::State& state) {
    std::string const& path = largestLevel();
    for (auto _ : state) {
        PristineLevel::Data level;
        LevelLoading::readLevel(path, level);
        benchmark::DoNotOptimize(level);
    }
}
BENCHMARK(BM_LoaderLevelRead)->Unit(benchmark::kMicrosecond);

void BM_ZlibUncompressSameFile(benchmark::State& state) {
    auto file = Singleton<FileSystem>::instance().open(largestLevel());
    uint8_t const* b = file->data();
    uLongf const declared = uLongf(b[0]) | uLongf(b[1]) << 8 | uLongf(b[2]) << 16 | uLongf(b[3]) << 24;
    std::vector<uint8_t> out(declared);
    for (auto _ : state) {
        uLongf produced = declared;
        uncompress(out.data(), &produced, b + 4, uLong(file->size() - 4));
        benchmark::DoNotOptimize(out.data());
    }
}
BENCHMARK(BM_ZlibUncompressSameFile)->Unit(benchmark::kMicrosecond);

// A save folder of its own with a record of 24 levels.
std::string const& saveFile() {
    static std::string const path = [] {
        static testing_support::TempDir dir;
        setenv("ZELV_DOCUMENTS_DIR", (dir.path().string() + "/").c_str(), 1);
        RoamingDataFile file("roamingData");
        for (uint32_t i = 0; i < 24; ++i) file.data.levelEntry(i).goalFlags() = uint8_t(i % 8);
        return dir.path().string() + "/roamingData";
    }();
    return path;
}

void saveRead(benchmark::State& state) {
    saveFile();
    RoamingData held(false);
    {
        RoamingDataFile file("roamingData");
        held = file.data;
    }
    for (auto _ : state) {
        RoamingDataFile const file("roamingData");
        benchmark::DoNotOptimize(file.data.levelEntries().size() == held.levelEntries().size());
    }
}

void BM_LevelSelectSaveRead(benchmark::State& state) { saveRead(state); }
BENCHMARK(BM_LevelSelectSaveRead)->Unit(benchmark::kMicrosecond);

// Another thread opens the save file over and over, as a sync job's merges do.
void BM_LevelSelectSaveReadWhileSyncing(benchmark::State& state) {
    saveFile();
    std::atomic<bool> stop{false};
    std::thread sync([&] {
        while (!stop) RoamingDataFile const file("roamingData");
    });
    saveRead(state);
    stop = true;
    sync.join();
}
BENCHMARK(BM_LevelSelectSaveReadWhileSyncing)->Unit(benchmark::kMicrosecond)->UseRealTime();

void BM_PlainFileRead(benchmark::State& state) {
    std::string const& path = saveFile();
    for (auto _ : state) {
        std::ifstream in(path, std::ios::binary);
        std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        benchmark::DoNotOptimize(bytes.data());
    }
}
BENCHMARK(BM_PlainFileRead)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
