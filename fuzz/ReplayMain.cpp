// Replays every file of the folders (or files) named on the command line through the
// fuzz entry point, so that g++ builds and ctest keep the seeds and old crashes honest.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

static int ReplayFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    return 1;
}

int main(int argc, char** argv)
{
    int count = 0;
    for (int i = 1; i < argc; ++i) {
        std::filesystem::path arg(argv[i]);
        if (std::filesystem::is_directory(arg)) {
            for (const auto& entry : std::filesystem::recursive_directory_iterator(arg))
                if (entry.is_regular_file())
                    count += ReplayFile(entry.path());
        } else if (std::filesystem::exists(arg)) {
            count += ReplayFile(arg);
        }
    }
    std::printf("replayed %d inputs\n", count);
    // A moved or emptied seed folder must not pass as a clean replay.
    if (count == 0) {
        std::fprintf(stderr, "no input to replay: the seed folder is missing or empty\n");
        return 1;
    }
    return 0;
}
