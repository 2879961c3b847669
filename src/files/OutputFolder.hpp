#pragma once

#include <string>

namespace spirell::files {

// A folder that appears under its name only when complete. It is filled as a
// hidden folder beside the target (".NAME.XXXXXX") and renamed over it at
// commit(); a folder already of that name is swapped out in one step and
// then removed, so the name always holds one whole folder. Anything else
// (an exception, the destructor) removes the hidden folder. A run killed
// by a signal may leave it behind, under its hidden name only.
class OutputFolder {
public:
    // Throws InputError when no folder can be made there, RenderFailure when
    // the system fails.
    explicit OutputFolder(const std::string& target);
    ~OutputFolder();
    OutputFolder(const OutputFolder&) = delete;
    OutputFolder& operator=(const OutputFolder&) = delete;

    // The hidden folder being filled.
    const std::string& path() const { return temporary_; }
    // Flushes what the folder holds to the disk and gives it its name. Throws RenderFailure.
    void commit();

private:
    std::string target_;
    std::string temporary_; // empty once committed
};

// Makes the folder path; its parent must exist. Throws as OutputFolder does.
void makeFolder(const std::string& path);

} // namespace spirell::files
