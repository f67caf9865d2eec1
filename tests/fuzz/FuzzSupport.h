#pragma once
// What every fuzz target shares: a failed check that names its condition and what it was about,
// the marker that keeps reference code out of the coverage guidance, and the application object
// that lives for the whole run.
#include <QString>

#include <cstdio>
#include <cstdlib>
#include <string>

// The reference code that the results are held against adds no coverage of its own: the fuzzer
// is to be guided by what the code under test reaches.
#define NO_COVERAGE __attribute__((no_sanitize("coverage")))

[[noreturn]] inline void FuzzFail(const char *what, const QString &about = QString()) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    if (!about.isEmpty()) std::fprintf(stderr, "  about: \"%s\"\n", about.toUtf8().constData());
    std::abort();
}

// CHECK(condition) or CHECK(condition, the text or name the check is about).
#define CHECK(cond, ...)                                                                                     \
    do {                                                                                                     \
        if (!(cond)) FuzzFail(#cond __VA_OPT__(, ) __VA_ARGS__);                                             \
    } while (0)

// Created once in LLVMFuzzerInitialize and never destroyed: libFuzzer ends the process itself.
template <class TApplication> void CreateApplication(const char *programName) {
    static int argc = 1;
    static std::string name = programName;
    static char *argv[] = {name.data(), nullptr};
    new TApplication(argc, argv);
}
