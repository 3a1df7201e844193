#pragma once
// Runs a command-line tool's entry function in-process and captures its two streams.

#include <cstdio>
#include <string>
#include <vector>

namespace testing_support {

struct ToolRun {
    int code = -1;
    std::string out;
    std::string err;
};

inline std::string DrainAndClose(FILE* stream) {
    std::rewind(stream);
    std::string text;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, stream)) > 0) text.append(buffer, n);
    std::fclose(stream);
    return text;
}

// `entry` is a tool's Run function: (arguments, standard output, standard error) -> exit code.
template <class Entry>
ToolRun RunTool(Entry entry, const std::vector<std::wstring>& args) {
    FILE* out = std::tmpfile();
    FILE* err = std::tmpfile();
    ToolRun run;
    run.code = entry(args, out, err);
    run.out = DrainAndClose(out);
    run.err = DrainAndClose(err);
    return run;
}

}  // namespace testing_support
