#pragma once

#include <string>
#include <vector>

// Finding the script an output was generated from.
namespace tessara::document {

// %s: the output no script (or more than one) names.
extern const char* const kNoSourceFormat;
extern const char* const kManySourcesFormat;

// Whether `path` names a script to convert (an SSA script or an old settings file) rather than
// an output: by its extension, ".ssa" or ".tsraconf" in any case.
bool is_source_path(const std::string& path);

// The SSA scripts and old settings files in `output`'s folder whose OutputFile names `output`
// (compared as absolute paths; a relative OutputFile counts from the current folder, as the
// run that wrote it did). Scripts that cannot be read are passed over.
std::vector<std::string> scripts_naming_output(const std::string& output);

}  // namespace tessara::document
