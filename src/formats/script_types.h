#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "formats/script_writer.h"
#include "script/settings.h"

// The registry of authoring-script types: the targets in the order the output-file dialog
// lists them, and the holder of the current type's writer.
namespace tessara::formats {

struct ScriptTypeRow {
    int32_t id;  // the number the program holds while it runs
    script::ScriptType type;
    std::string_view key;          // what the "ScrType" setting stores
    std::string_view extension;    // without the dot
    std::string_view description;  // shown to the user
    std::string_view filter;       // the row's "name|pattern|" entry of the output-file filter
};

// The id that matches no row: one past the highest row id. Ids are never reused or renumbered,
// so a new type takes the next id and this moves up.
inline constexpr int32_t kNoScriptTypeId = 9;

// The rows in dialog order; a row's 1-based position in this list selects it. New types are
// appended, so the positions of the older rows stay.
std::span<const ScriptTypeRow> script_type_table();

const ScriptTypeRow& script_type_row(script::ScriptType type);
// Nothing for an id outside 0 to kNoScriptTypeId - 1.
const ScriptTypeRow* find_script_type_by_id(int32_t id);
// An empty key means the first row (DVD Maestro); keys match case-sensitively.
const ScriptTypeRow* find_script_type_by_key(std::u16string_view key);
// Positions 1 to the number of rows.
const ScriptTypeRow* find_script_type_by_position(int32_t position);

// The output-file dialog's filter: every row's entry in order, then "All files (*.*)|*.*||";
// and the current type's own entry with its 1-based position, the dialog's initial choice.
struct OutputFileFilter {
    std::string filter;
    std::string current_entry;
    int32_t current_position = 0;
};
OutputFileFilter output_file_filter(script::ScriptType current);

// Gives the script path the type's extension. Only a real extension is replaced: the text after
// the last dot must hold no '/', '\' or ':'. An extension equal to the type's without regard to
// case, or a path without an extension, is returned unchanged.
std::u16string fit_output_path(std::u16string_view path, script::ScriptType type);

// The current script type and the one writer instance of that type. Choosing a type always
// replaces the writer with a fresh one; a failed choice changes nothing.
class ScriptTypeHolder {
  public:
    ScriptTypeHolder();  // DVD Maestro

    void select(script::ScriptType type);
    bool select_by_id(int32_t id);
    bool select_by_key(std::u16string_view key);
    bool select_by_position(int32_t position);

    const ScriptTypeRow& row() const { return *m_row; }
    script::ScriptType type() const { return m_row->type; }
    int32_t id() const { return m_row->id; }
    std::string_view key() const { return m_row->key; }
    std::string_view extension() const { return m_row->extension; }
    std::string_view description() const { return m_row->description; }

    ScriptWriter& writer() { return *m_writer; }
    const ScriptWriter& writer() const { return *m_writer; }

  private:
    const ScriptTypeRow* m_row = nullptr;
    std::unique_ptr<ScriptWriter> m_writer;
};

}  // namespace tessara::formats
