#ifndef FUZZ_FUZZ_SUPPORT_H
#define FUZZ_FUZZ_SUPPORT_H

// What the fuzz targets share: how a finding ends the run, and a folder of the run's own for
// the targets that go through files.

#include <errno.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "tests/support/files.h"
#include "tests/support/temp_dir.h"

namespace fuzzsupport {

// Reports "<target>: <what>: <detail>" and aborts, which libFuzzer records as a crash.
[[noreturn]] inline void Finding(const char* what, const std::string& detail)
{
    std::fprintf(stderr, "%s: %s: %s\n", program_invocation_short_name, what, detail.c_str());
    std::abort();
}

// An invariant of the target: broken, it aborts, which libFuzzer records as a crash.
inline void Check(bool condition)
{
    if (!condition) {
        std::abort();
    }
}

// A fresh folder under $TMPDIR named after the target, removed when the run ends; made on the
// first call.
inline const std::string& ScratchDir()
{
    static const testsupport::TempDir dir(program_invocation_short_name);
    return dir.Path();
}

// Copies the build's shared types schema into the scratch folder, where the documents of the
// target name it; its path there.
inline std::string ScratchTypesXsd()
{
    const std::string types = ScratchDir() + "/types.xsd";
    std::filesystem::copy_file(testsupport::TypesXsd(), types);
    return types;
}

} // namespace fuzzsupport

#endif
