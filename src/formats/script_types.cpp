#include "formats/script_types.h"

#include <array>

#include "base/text.h"

namespace tessara::formats {

namespace {

using script::ScriptType;

constexpr std::array<ScriptTypeRow, 9> kRows = {{
    {0, ScriptType::SON, "SON", "son", "DVD Maestro (.son)", "DVD Maestro (*.son)|*.son|"},
    {2, ScriptType::SST, "SST", "sst", "Scenarist (.sst)", "Scenarist (*.sst)|*.sst|"},
    {1, ScriptType::IAU, "IAU", "txt", "I-Author (.txt)", "I-Author (*.txt)|*.txt|"},
    {4, ScriptType::SMX, "SMX", "sub", "SubMux (.sub)", "SubMux (*.sub)|*.sub|"},
    {3, ScriptType::IMG, "IMG", "sub", "Philips IMG 2.0 (.sub)", "Philips IMG 2.0(*.sub)|*.sub|"},
    {5, ScriptType::USF, "USF", "usf", "Ultech(c) USF (.usf)", "Ultech(c) (*.usf)|*.usf|"},
    {6, ScriptType::SCR, "SCR", "scr", "Toshiba SCR(.scr)", "Toshiba (*.scr)|*.scr|"},
    {7, ScriptType::SPU, "SPU", "xml", "spumux XML (.xml)", "spumux XML (*.xml)|*.xml|"},
    {8, ScriptType::VOBSUB, "VOBSUB", "idx", "VobSub (.idx/.sub)", "VobSub (*.idx)|*.idx|"},
}};

constexpr std::string_view kAllFilesFilter = "All files (*.*)|*.*||";

bool same_key(std::u16string_view key, std::string_view row_key) {
    if (key.size() != row_key.size()) {
        return false;
    }
    for (size_t i = 0; i < key.size(); ++i) {
        if (key[i] != static_cast<unsigned char>(row_key[i])) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::span<const ScriptTypeRow> script_type_table() {
    return kRows;
}

const ScriptTypeRow& script_type_row(ScriptType type) {
    for (const ScriptTypeRow& row : kRows) {
        if (row.type == type) {
            return row;
        }
    }
    return kRows[0];
}

const ScriptTypeRow* find_script_type_by_id(int32_t id) {
    for (const ScriptTypeRow& row : kRows) {
        if (row.id == id) {
            return &row;
        }
    }
    return nullptr;
}

const ScriptTypeRow* find_script_type_by_key(std::u16string_view key) {
    if (key.empty()) {
        return &kRows[0];
    }
    for (const ScriptTypeRow& row : kRows) {
        if (same_key(key, row.key)) {
            return &row;
        }
    }
    return nullptr;
}

const ScriptTypeRow* find_script_type_by_position(int32_t position) {
    if (position < 1 || position > static_cast<int32_t>(kRows.size())) {
        return nullptr;
    }
    return &kRows[position - 1];
}

OutputFileFilter output_file_filter(ScriptType current) {
    OutputFileFilter f;
    for (size_t i = 0; i < kRows.size(); ++i) {
        f.filter += kRows[i].filter;
        if (kRows[i].type == current) {
            f.current_entry = kRows[i].filter;
            f.current_position = static_cast<int32_t>(i) + 1;
        }
    }
    f.filter += kAllFilesFilter;
    return f;
}

std::u16string fit_output_path(std::u16string_view path, ScriptType type) {
    std::u16string out(path);
    const size_t dot = path.rfind(u'.');
    if (dot == std::u16string_view::npos) {
        return out;
    }
    const std::u16string_view ext = path.substr(dot + 1);
    if (ext.find_first_of(u"/\\:") != std::u16string_view::npos) {
        return out;
    }
    const std::u16string wanted = base::to_u16(script_type_row(type).extension);
    if (!base::iequals(ext, wanted)) {
        out.replace(dot + 1, std::u16string::npos, wanted);
    }
    return out;
}

ScriptTypeHolder::ScriptTypeHolder() {
    select(ScriptType::SON);
}

void ScriptTypeHolder::select(ScriptType type) {
    m_row = &script_type_row(type);
    m_writer = make_script_writer(type);
}

bool ScriptTypeHolder::select_by_id(int32_t id) {
    const ScriptTypeRow* row = find_script_type_by_id(id);
    if (row == nullptr) {
        return false;
    }
    select(row->type);
    return true;
}

bool ScriptTypeHolder::select_by_key(std::u16string_view key) {
    const ScriptTypeRow* row = find_script_type_by_key(key);
    if (row == nullptr) {
        return false;
    }
    select(row->type);
    return true;
}

bool ScriptTypeHolder::select_by_position(int32_t position) {
    const ScriptTypeRow* row = find_script_type_by_position(position);
    if (row == nullptr) {
        return false;
    }
    select(row->type);
    return true;
}

}  // namespace tessara::formats
