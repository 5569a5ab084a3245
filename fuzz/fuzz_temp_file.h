#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

// One private folder for the whole fuzzing process (the readers under test take paths),
// removed again when the process ends normally.
class FuzzFolder {
public:
    FuzzFolder()
    {
        const char* base = std::getenv("TMPDIR");
        path = std::string(base && *base ? base : "/tmp") + "/tarnwick-fuzz-XXXXXX";
        if (!::mkdtemp(path.data()))
            std::abort();
    }
    ~FuzzFolder()
    {
        std::error_code error;
        std::filesystem::remove_all(path, error);
    }
    std::string path;
};

inline const std::string& fuzzFolder()
{
    static const FuzzFolder folder;
    return folder.path;
}

inline std::string writeFuzzFile(const char* name, const uint8_t* data, size_t size)
{
    std::string path = fuzzFolder() + "/" + name;
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        std::abort();
    if (size > 0 && std::fwrite(data, 1, size, file) != size)
        std::abort();
    std::fclose(file);
    return path;
}

// A CR that does not start a CR LF pair would end a value, and the writer's LF line end
// right after it turns the pair into a plain line end: such a value cannot come back whole.
inline bool hasLoneCarriageReturn(const uint8_t* data, size_t size)
{
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == '\r' && (i + 1 == size || data[i + 1] != '\n'))
            return true;
    }
    return false;
}
