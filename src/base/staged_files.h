#pragma once

#include <sys/stat.h>

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

#include "base/messages.h"

namespace tessara::base {

// A set of files that replace their targets in one folder together, or not at all.
//
// Every file is first written completely into a private staging folder beside the targets
// (".tessara-run-XXXXXX", locked for as long as this object lives). commit() then moves the
// files into place. Until commit() nothing at a target changes, so a run that fails or is
// killed before it leaves the previous output as it was. During commit() the files flagged as
// `last` (the script that names the others) are first moved out of the way and put in place
// after everything else: a run killed in the middle of committing leaves no such file rather
// than one naming files of another run. A commit that fails part-way puts every earlier file
// back. The staging folder and whatever is left in it go when the object does.
class StagedFiles {
  public:
    StagedFiles() = default;
    ~StagedFiles();
    StagedFiles(const StagedFiles&) = delete;
    StagedFiles& operator=(const StagedFiles&) = delete;

    // Creates the staging folder in the folder `prefix` names ("dir/", or "" for the working
    // folder); false with `error` set (an errno value) when it cannot take new files.
    bool open(const std::string& prefix, int& error);
    bool is_open() const { return !m_dir.empty(); }

    // Where to write the staged copy of the file that will be called `name` in the folder, and
    // the target it replaces.
    std::string staged_path(std::string_view name) const;
    std::string target_path(std::string_view name) const { return m_prefix + std::string(name); }

    // Registers the staged file `name`; `failure_text` is reported (as a message about the
    // target) when it cannot be put in place.
    void add(const std::string& name, std::string_view failure_text, bool last);

    // Messages about staged files passed on as messages about their targets: what failed
    // while writing one names the file the user asked for, never the staging folder.
    class TargetMessages;

    // Makes the staged files durable, then moves them over their targets. On failure every
    // target is as it was before (or, if even that fails, the message says which target was
    // lost) and false is returned.
    bool commit(Messages& messages);

  private:
    struct Entry {
        std::string name;
        std::string target;
        std::string failure_text;
        bool last = false;
        bool had_old = false;  // the old target sits in the staging folder as "old-N"
        bool placed = false;
    };
    bool place(size_t index, Messages& messages);
    bool move_old_away(size_t index, const struct stat& st, Messages& messages);
    void undo(Messages& messages);
    std::string old_path(size_t index) const;

    std::string m_prefix;
    std::string m_dir;
    int m_lock = -1;
    std::vector<Entry> m_entries;
};

class StagedFiles::TargetMessages final : public Messages {
  public:
    TargetMessages(const StagedFiles& staged, Messages& inner) : m_staged(staged), m_inner(inner) {}

    void inform(std::string_view text) override { m_inner.inform(targets(text)); }
    void warn(std::string_view text) override { m_inner.warn(targets(text)); }
    void error(std::string_view text) override { m_inner.error(targets(text)); }
    void error_with_system(std::string_view text, int system_error) override {
        m_inner.error_with_system(targets(text), system_error);
    }
    Answer ask(std::string_view question, AskKind kind) override {
        return m_inner.ask(targets(question), kind);
    }
    void file_error(std::string_view path, std::string_view text,
                    std::optional<int> system_error) override {
        m_inner.file_error(targets(path), targets(text), system_error);
    }

  private:
    std::string targets(std::string_view text) const;

    const StagedFiles& m_staged;
    Messages& m_inner;
};

// Removes what killed runs and saves left in `folder`: staging folders of StagedFiles whose
// lock nobody holds and temporary files of write_file_atomically (".NAME.tessara-XXXXXX",
// ".tessara-probe-XXXXXX") that nobody holds open for writing, each only when it is older
// than `started` (the time the calling run began). Anything else is never touched.
void remove_leftovers(const std::string& folder, std::chrono::system_clock::time_point started);

}  // namespace tessara::base
