#include "cli/usage.h"

namespace tessara::cli {

namespace {

constexpr std::string_view kProgramUsage =
    R"(usage: tessara COMMAND [options]

Tessara turns SSA (Sub Station Alpha V4) subtitle scripts into DVD subpictures.

Commands:
  info SCRIPT [--json]   summary of the script's conversion settings;
                         --json lists settings, styles and events (with frames)
  generate SCRIPT [-o OUTPUT] [--no-bitmaps]
                         convert: the authoring script of the ScrType setting
                         (SON, SST, IAU, SMX, IMG, USF, SCR, SPU, VOBSUB; change it with
                         --set ScrType=SST) and one bitmap per subpicture beside
                         it; OUTPUT defaults to the OutputFile setting
  verify OUTPUT [--script SCRIPT] [--mux]
                         read back what generate wrote and compare it with a fresh
                         run: script lines, times, areas, colours, every picture
                         pixel by pixel; one line per mismatch, exit 0 only when
                         all match (OUTPUT may also be the SSA script itself)
  import SCRIPT.ass [-o OUT.ssa] [--utf8] [--code-page N]
                         convert an ASS (V4+) script into an SSA V4 script
                         (UTF-16; UTF-8 with --utf8) and report what could not
                         be carried over; the other commands read SSA V4 only
  save SCRIPT [-o OUT]   write the script back (in place unless -o is given), with
                         its settings block regenerated; the file is replaced only
                         once the new one is completely written
  tool snap SCRIPT [--fps RATE] [-o OUT]
                         move every dialogue time to the start of its frame
                         (RATE defaults to the script's input frame rate)
  tool quotes SCRIPT [-o OUT]
                         straight double quotes to typographic ones
  tool unicode SCRIPT [-o OUT]
                         convert an 8-bit script to Unicode (saved as UTF-16)
  tool separate SCRIPT [-o OUT]
                         end every subtitle one frame before the next one starts
                         where they would otherwise touch
  Tools that ask for confirmation do nothing without --yes.
  timeline SCRIPT [--json]
                         the subpictures: times, colours and where each subtitle
                         is drawn (event index, x, y, width, height)
  render SCRIPT --event N -o OUT.png [--scale K]
                         draw event N (numbered from 0) as it would look shown
                         alone, in its colours over the BackColor setting, as a
                         PNG; --scale enlarges it K times (1-16)
  render SCRIPT (--subpicture N | --at HH:MM:SS:FF) -o OUT.png [--scale K]
                         draw subpicture N (numbered from 1), or the one shown at
                         that time, at full output size over BackColor
  export srt|captions|dialogue|film|chi SCRIPT -o OUT [--film-offset HH:MM:SS:FF]
                         plain-text lists of the subtitles: SubRip, Captions Inc.,
                         a text dialogue list with SMPTE times, the same with film
                         feet and frames counted from the film offset (default
                         01:00:00:00; non-drop 24 or 30 fps output only), or Chi
  check-segments SCRIPT [--distance N]
                         list the subtitles the DVD segments and chapter points
                         would cut, each widened by N frames (0-99, default 0)
  feed SCRIPT [--offset HH:MM:SS:FF] [--dont-check-fr] [--watch] [--loopback]
                         hand every subpicture to the video-filter plug-in: waits
                         for the plug-in to connect (start the preview with the
                         filter), then sends all pictures the first time and only
                         the changed ones after that; Ctrl-C cancels

'tessara COMMAND --help' describes one command with its options and an example.

SCRIPT may also be an old ".tsraconf" settings file: its settings are read first,
then the script it names.

Global options:
  --set KEY=VALUE   change a conversion setting after loading (any settings key,
                    checked like a settings line in the script; repeatable;
                    'man tessara' lists the keys)
  --yes             confirm every question
  --quiet           no progress bar
  -h, --help        this text, or with a command that command's usage
  --version         the program's version

Exit status: 0 success, 1 the operation failed (its message was printed),
2 usage error.
)";

constexpr std::string_view kProgramSynopsis =
    "usage: tessara "
    "info|generate|verify|import|save|tool|timeline|render|export|check-segments|feed ...";

// The tail every command's help ends with.
#define TESSARA_GLOBAL_OPTIONS                                                               \
    "\nGlobal options: --set KEY=VALUE (change a setting for this run; repeatable), --yes\n" \
    "(confirm every question), --quiet (no progress bar).\n"                                 \
    "Exit status: 0 success, 1 the operation failed (its message was printed), 2 usage error.\n"

constexpr CommandUsage kCommands[] = {
    {"info", "usage: tessara info SCRIPT [--json]",
     R"(usage: tessara info SCRIPT [--json]

Reads SCRIPT (an SSA file, or an old .tsraconf settings file and the script it
names) and prints the summary of its conversion settings that the desktop
program shows, one "Label: value" line per field: output script, palette and
bitmap names, honoured palette, formats, colours, line spacing and wrapping,
code page, resolution, frame rates and frame type. Writes nothing.

Options:
  --json   print everything as JSON instead: "source", "unicode", "encoding"
           ("utf-16", "utf-8" or "8-bit"), "settings" (every settings key), "styles"
           and "events" (with start and stop frames)

Example:
  tessara info film.ssa --json
)" TESSARA_GLOBAL_OPTIONS},
    {"generate", "usage: tessara generate SCRIPT [-o OUTPUT] [--no-bitmaps]",
     R"(usage: tessara generate SCRIPT [-o OUTPUT] [--no-bitmaps]

Converts SCRIPT: writes the authoring script of the ScrType setting (SON, SST,
IAU, SMX, IMG, USF, SCR, SPU or VOBSUB) and one bitmap per subpicture beside
it, in the ImgType format (BMP, TIFF, TGA or YC); for SON a palette file (.spf)
too; for SPU (the XML of dvdauthor's spumux) transparent PNGs, NAME_0001.png ...;
for VOBSUB (NAME.idx) the pictures go into NAME.sub beside it. With
DVDSeparate on and DVD segments set, one script per segment. Nothing is written
when the subtitles do not render or their colours do not fit the palette.

Options:
  -o, --output OUTPUT   the authoring script to write (default: the OutputFile
                        setting, else the script's name with the type's extension)
  --no-bitmaps          write only the authoring script, with the same names and
                        display areas

Examples:
  tessara generate film.ssa
  tessara generate film.ssa --set ScrType=SST -o out/film.sst
)" TESSARA_GLOBAL_OPTIONS},
    {"verify", "usage: tessara verify OUTPUT [--script SCRIPT] [--mux]",
     R"(usage: tessara verify OUTPUT [--script SCRIPT] [--mux]

Reads back the output of 'tessara generate' and checks it. OUTPUT is the
authoring script as the OutputFile setting names it (with DVD segments split,
every part is checked). The scripts are parsed: times must run in order without
overlapping, every picture must exist and lie inside the frame, colours must be
palette entries and contrasts 0-15. Then everything is compared with a fresh run
of the source script made in a temporary folder: every line of the scripts
(but a creation date), each subpicture's file, times, area and colours, the
SON palette file, and every picture decoded pixel by pixel (BMP, TIFF, TGA, YC,
PNG; VobSub pairs through FFmpeg's VobSub reader and DVD subtitle decoder).
Prints one line per mismatch, then a summary; exit status 0 only when
everything matches.

The source script is found by --script, else OUTPUT itself when it is an SSA
script or a .tsraconf settings file (its OutputFile names the output), else the
one script in OUTPUT's folder whose OutputFile names OUTPUT. Give the same --set
values the output was generated with.

Options:
  --script SCRIPT   the SSA script (or .tsraconf settings file) the output was
                    generated from
  --mux             for SPU output also mux the XML into a black MPEG stream with
                    spumux and compare what spuunmux reads back (needs dvdauthor
                    and ffmpeg; slow for a long film: the stream is as long as the
                    subtitles)

Examples:
  tessara verify out/film.son
  tessara verify film.ssa --set ScrType=VOBSUB
  tessara verify out/film.xml --script film.ssa --mux
)" TESSARA_GLOBAL_OPTIONS},
    {"save", "usage: tessara save SCRIPT [-o OUT]",
     R"(usage: tessara save SCRIPT [-o OUT]

Reads SCRIPT and writes it back with every line kept and its settings block
regenerated (line ends become CR LF). The new file is written beside the target
and renamed over it only once complete, so a failed save leaves the old file.

Options:
  -o, --output OUT   write to OUT instead of SCRIPT itself

Example:
  tessara save film.ssa --set FPSout=25 --set ResY=576
)" TESSARA_GLOBAL_OPTIONS},
    {"tool",
     "usage: tessara tool snap SCRIPT [--fps RATE] [-o OUT]\n"
     "       tessara tool quotes|unicode|separate SCRIPT [-o OUT]",
     R"(usage: tessara tool snap SCRIPT [--fps RATE] [-o OUT]
       tessara tool quotes|unicode|separate SCRIPT [-o OUT]

Runs one of the script-wide tools on SCRIPT and writes it back (in place unless
-o is given) when something changed:
  snap       move every dialogue time to the start of the frame it falls in
  quotes     straight double quotes to typographic pairs (asks first)
  unicode    convert an 8-bit script to Unicode, saved as UTF-16 (asks first)
  separate   end every subtitle one frame before the next one starts where they
             would otherwise run into each other (the frame rates must be set)
The tools that ask do nothing without --yes.

Options:
  --fps RATE         the frame rate for snap (default: the script's FPSin)
  -o, --output OUT   write to OUT instead of SCRIPT itself

Example:
  tessara tool snap film.ssa --fps 25 -o snapped.ssa
)" TESSARA_GLOBAL_OPTIONS},
    {"timeline", "usage: tessara timeline SCRIPT [--json]",
     R"(usage: tessara timeline SCRIPT [--json]

Shows what a conversion of SCRIPT will produce, writing nothing: every
subpicture with its number, start and stop (SMPTE), its three colours and, for
each subtitle in it, the event index and the box it is drawn in.

Options:
  --json   print {"subpictures": [...]} with "number", "start", "stop",
           "start_frame", "stop_frame", "colors" and "members"

Example:
  tessara timeline film.ssa --json
)" TESSARA_GLOBAL_OPTIONS},
    {"render",
     "usage: tessara render SCRIPT --event N -o OUT.png [--scale K]\n"
     "       tessara render SCRIPT (--subpicture N | --at HH:MM:SS:FF) -o OUT.png [--scale K]",
     R"(usage: tessara render SCRIPT --event N -o OUT.png [--scale K]
       tessara render SCRIPT (--subpicture N | --at HH:MM:SS:FF) -o OUT.png [--scale K]

Draws one subtitle or one subpicture of SCRIPT as a PNG, in the colours the
script's colour mode gives it, over the BackColor setting.

Options:
  --event N          event N (numbered from 0, as 'info --json' lists them),
                     laid out as it would look shown alone
  --subpicture N     composed subpicture N (numbered from 1) at full output size
  --at HH:MM:SS:FF   the subpicture shown at that time
  -o, --output OUT   the PNG file to write
  --scale K          enlarge K times (1-16, default 1)

Example:
  tessara render film.ssa --subpicture 12 -o sp12.png --scale 2
)" TESSARA_GLOBAL_OPTIONS},
    {"export",
     "usage: tessara export srt|captions|dialogue|film|chi SCRIPT -o OUT "
     "[--film-offset HH:MM:SS:FF]",
     R"(usage: tessara export srt|captions|dialogue|film|chi SCRIPT -o OUT [--film-offset HH:MM:SS:FF]

Writes the subtitles of SCRIPT as a plain-text list (CR LF line ends, one byte
per character in the system code page):
  srt        SubRip, one entry per subpicture
  captions   Captions Inc. caption list (FPSout 25, 29.97 drop frame or 30)
  dialogue   start, end, actor and text in columns, with SMPTE times
  film       the same with times as film feet and frames (non-drop 24 or 30 fps)
  chi        one comma-separated line per subtitle
OUT is replaced only once complete.

Options:
  -o, --output OUT              the file to write
  --film-offset HH:MM:SS:FF     where film feet count from (film only; default
                                01:00:00:00)

Example:
  tessara export srt film.ssa -o film.srt
)" TESSARA_GLOBAL_OPTIONS},
    {"import", "usage: tessara import SCRIPT.ass [-o OUT.ssa] [--utf8] [--code-page N]",
     R"(usage: tessara import SCRIPT.ass [-o OUT.ssa] [--utf8] [--code-page N]

Converts an ASS (V4+) script into an SSA V4 script that the other commands read,
and prints what could not be carried over. Styles: colours without their alpha,
the outline colour in the column outlines are drawn with, numpad alignment as SSA
alignment, margins scaled when PlayResX is not 4:3 of PlayResY; scale, spacing,
angle, underline, strike-out, shadow and the opaque box are listed as lost.
Events: Dialogue and Comment lines with their times exactly as written. Tags:
n, c, \c, , \i, n, s, e and 
 become their SSA forms; every other
tag (\pos, \move, ad, 	, \clip, lur, \k, drawings ...) is dropped and
counted, with the first few event numbers (events counted from 1, Dialogue and
Comment lines alike). [Fonts] and [Graphics] are kept; sections of other
programs are dropped. The new file is read back before it is written; an
existing OUT is replaced only with --yes.

Options:
  -o, --output OUT.ssa   the SSA script to write (default: SCRIPT with .ssa)
  --utf8                 write UTF-8 (with the byte order mark) instead of UTF-16
  --code-page N          for an 8-bit ASS file: the code page of text whose style
                         names no character set (default 1252); styles that
                         name one (Encoding 204, 134 ...) use its code page

Example:
  tessara import episode.ass -o episode.ssa
)" TESSARA_GLOBAL_OPTIONS},
    {"check-segments", "usage: tessara check-segments SCRIPT [--distance N]",
     R"(usage: tessara check-segments SCRIPT [--distance N]

Lists the subtitles of SCRIPT that the DVD segments and chapter points (the
DVDSeg setting) would cut: those not wholly inside a segment and those a chapter
break falls inside, with start, stop and text; or "No errors found.". Writes
nothing.

Options:
  --distance N   widen every subtitle by N frames on both sides (0-99, default 0)

Example:
  tessara check-segments film.ssa --set DVDSeg=00:10:00:00 --distance 5
)" TESSARA_GLOBAL_OPTIONS},
    {"feed",
     "usage: tessara feed SCRIPT [--offset HH:MM:SS:FF] [--dont-check-fr] [--watch] [--loopback]",
     R"(usage: tessara feed SCRIPT [--offset HH:MM:SS:FF] [--dont-check-fr] [--watch] [--loopback]

Builds every subpicture of SCRIPT and hands them to the video-filter plug-in:
waits for the plug-in to connect (start the video tool's preview with the filter
in its chain), transfers and prints each status. Exits 0 when the plug-in took
everything. Ctrl-C cancels a wait.

Options:
  --offset HH:MM:SS:FF   timecode of the video's first frame (default: the
                         VDubOffset setting, else BackOffset, else a single
                         old-style segment's destination, else 00:00:00:00)
  --dont-check-fr        let the plug-in accept video at another frame rate
  --watch                keep running: reload and feed again whenever SCRIPT
                         changes on disk, sending only what changed
  --loopback             listen on TCP 127.0.0.1 instead of the socket, for the
                         plug-in in a video tool running under Wine; the port
                         and a secret go into Tessara-plugin.loopback (mode
                         0600) beside the socket, and connections without the
                         secret are dropped with a warning

Example:
  tessara feed film.ssa --offset 01:00:00:00 --watch
)" TESSARA_GLOBAL_OPTIONS},
};

#undef TESSARA_GLOBAL_OPTIONS

}  // namespace

const CommandUsage* find_command_usage(std::string_view name) {
    for (const CommandUsage& c : kCommands) {
        if (c.name == name) {
            return &c;
        }
    }
    return nullptr;
}

std::string_view program_usage() {
    return kProgramUsage;
}

std::string_view program_synopsis() {
    return kProgramSynopsis;
}

}  // namespace tessara::cli
