// Runs every file of a corpus folder (or the files named) through the fuzz
// target once, so the ordinary test run replays what the fuzzer found.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

static int runFile(const std::filesystem::path &p)
{
    std::ifstream in(p, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size());
    return 1;
}

int main(int argc, char **argv)
{
    int count = 0;
    for (int i = 1; i < argc; ++i) {
        std::filesystem::path p(argv[i]);
        std::error_code ec;
        if (std::filesystem::is_directory(p, ec)) {
            for (const auto &e : std::filesystem::recursive_directory_iterator(p, ec))
                if (e.is_regular_file())
                    count += runFile(e.path());
        } else if (std::filesystem::is_regular_file(p, ec)) {
            count += runFile(p);
        }
    }
    // An empty input must be survivable as well.
    LLVMFuzzerTestOneInput(nullptr, 0);
    std::printf("replayed %d inputs\n", count);
    // A replay that found nothing to replay (a moved or empty corpus) has
    // tested nothing and says so.
    if (count == 0) {
        std::fprintf(stderr, "no corpus inputs found\n");
        return 1;
    }
    return 0;
}
