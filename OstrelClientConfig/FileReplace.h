#ifndef OSTRELCLIENTCONFIG_FILEREPLACE_H
#define OSTRELCLIENTCONFIG_FILEREPLACE_H

// Internal to the settings library (not installed): whole-file reads and
// replacements with a seam through which tests make each step fail.

#include <sys/types.h>

#include <functional>
#include <string>

namespace OstrelClientConfig {
namespace FileReplace {

// The steps of a replacement, in the order they are taken.
enum class Step { createTemp, write, sync, rename };

// Consulted before each step; returning false makes the step fail with EIO as
// if the system had refused it. Tests only: null (every step runs) otherwise.
using StepHook = std::function<bool(Step step)>;
void setStepHook(StepHook hook);

// How a replacement ended.
struct Result {
    bool bOk = true;
    Step step = Step::createTemp;  // the step that failed
    int nErrno = 0;
};

// Makes strPath hold strText. The text goes to a new file beside the target
// (so the rename stays within one file system), which gets the target's mode
// and owner when the target exists and modeNew otherwise, is synced, and is
// renamed over the target; the folder is synced after. A symbolic link is
// followed, so the file it names is replaced, not the link. On failure the
// new file is removed and the target is untouched.
Result replace(const std::string& strPath, const std::string& strText, mode_t modeNew);

// Reads an open descriptor to its end, in chunks of up to 1024 bytes, into
// strText. False when it is not a regular file, when it holds more than
// nMaxBytes, or on a read error (strReason then says which).
bool readAll(int fd, long nMaxBytes, std::string& strText, std::string& strReason);

} // namespace FileReplace
} // namespace OstrelClientConfig

#endif
