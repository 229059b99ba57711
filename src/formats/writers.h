#pragma once

#include <memory>

#include "formats/script_writer.h"

// Constructors of the concrete writers, one per file; make_script_writer picks among them.
namespace tessara::formats {

std::unique_ptr<ScriptWriter> make_son_writer();
std::unique_ptr<ScriptWriter> make_sst_writer();
std::unique_ptr<ScriptWriter> make_iauthor_writer();
std::unique_ptr<ScriptWriter> make_submux_writer();
std::unique_ptr<ScriptWriter> make_img_writer();
std::unique_ptr<ScriptWriter> make_usf_writer();
std::unique_ptr<ScriptWriter> make_scr_writer();
std::unique_ptr<ScriptWriter> make_spumux_writer();
std::unique_ptr<ScriptWriter> make_vobsub_writer();

}  // namespace tessara::formats
