#include "tools/pack/cli/Help.h"

#include <algorithm>

namespace {

const char kPackHelpTemplate[] =
    "usage: cabsetup pack [--stub STUB | --arch ARCH] -o OUT [OPTIONS] (--cab FILE.cab | FILE-OR-FOLDER...)\n"
    "\n"
    "Appends a package to a copy of the bare stub: stub.exe (32-bit, runs on every\n"
    "Windows) or stub64.exe (64-bit, installs into the native Program Files).\n"
    "Files and folders are put in a cabinet (LZX, or as --compression says); a folder's files\n"
    "keep their places in its tree, which the installer makes below the install folder (--flat\n"
    "puts every file at the top level under its own name); --cab packs a ready-made cabinet\n"
    "unchanged.\n"
    "\n"
    "stub:\n"
    "  --stub STUB                  the bare stub to use\n"
    "  --arch i386|x86-64           the installed stub of that processor (default i386): the one in\n"
    "                               ../share/cabsetup/ from cabsetup's folder, else beside cabsetup\n"
    "\n"
    "header (an option overrides the same key of the manifest):\n"
    "@HEADER@"
    "  --shortcut NAME=TARGET       a Start-menu shortcut; repeatable; replaces the manifest's list;\n"
    "                               TARGET may lie in a sub-folder (bin\\app.exe)\n"
    "  --current-user               the shortcuts go to the installing user's Start menu, not to the\n"
    "                               one of all users (the default)\n"
    "  --no-apps-entry              no entry in Apps & features (by default the installer registers the\n"
    "                               product there, with the version and publisher below, and writes its\n"
    "                               uninstaller also without shortcuts)\n"
    "\n"
    "branding (what Explorer shows of OUT and of its uninstaller):\n"
    "  --icon FILE.ico              the installer's icon, every image of FILE.ico; the uninstaller's\n"
    "                               shortcut keeps the uninstall icon\n"
    "  --product-version X.Y.Z[.W]  adds a version resource: ProductName, ProductVersion, FileVersion,\n"
    "                               FileDescription \"<ProductName> Setup\", CompanyName, LegalCopyright\n"
    "  --publisher T                its CompanyName (default: CompanyFolder)\n"
    "  --copyright T                its LegalCopyright\n"
    "\n"
    "files:\n"
    "  --flat                       every file at the top level of the install folder, names with \".\"\n"
    "                               only, as installers without sub-folders do; a ready-made\n"
    "                               cabinet's folders are then dropped\n"
    "  --no-dedupe                  store every file; by default files of the same content and\n"
    "                               attributes are stored once and installed as copies of the first\n"
    "                               (with its time); files to be run are always stored\n"
    "  --exclude PATTERN            leave out what PATTERN matches; repeatable (see below)\n"
    "  --run FILE                   start FILE after installation (cabinet attribute 0x40); repeatable\n"
    "  --attrib FILE=ATTR           set a file's attributes: letters r h s a x (x = run) or a number\n"
    "  --mtime SECONDS              use this Unix time for every file instead of its modification time\n"
    "  --time-zone ZONE             write file times as seen at ZONE: UTC (default) or an offset such as\n"
    "                               +09:00; the installer takes them as the target's local time\n"
    "  --compression KIND           lzx[:BITS] (the default, lzx:21), mszip or none; lzx has a window\n"
    "                               of 2^BITS bytes, 15 to 21 (default 21)\n"
    "  --level N                    MSZIP at level N: 0 (stored) to 9, 7 with mszip; 1 is the fastest (3 to 4\n"
    "                               times as fast, 10 to 25% larger), 9 the smallest but far slower (each\n"
    "                               block compressed four ways: about 1% smaller than 7 for ten times the time)\n"
    "  --no-compress                same as --compression none\n"
    "  --threads N                  compression threads: MSZIP blocks at once, LZX one beside the\n"
    "                               parse (default: one per core)\n"
    "  --codepage N                 code page of the texts and stored names: 65001 (UTF-8, the\n"
    "                               default), 1252, 874, 932, 936, 949, 950, 1250-1258; every package\n"
    "                               records it and installs the same names on every system. UTF-8\n"
    "                               holds every name (non-ASCII names carry the cabinet flag 0x80); a\n"
    "                               header text then holds fewer characters (100 bytes: 33 to 50 of\n"
    "                               most scripts). A package without the record (made before it\n"
    "                               existed) reads in the code page of the system it runs on\n"
    "  --force                      replace a symbolic link at OUT (the link, not what it points to)\n"
    "@OUTPUT@"
    "\n"
    "signing (Authenticode, through osslsigncode; any signing tool may sign OUT later as well):\n"
    "  --sign-pkcs12 FILE           sign OUT with the certificate and key in FILE (SHA-256)\n"
    "  --sign-password-file F       FILE's password, the first line of F\n"
    "  --sign-timestamp URL         have the signature time-stamped by this RFC 3161 server\n"
    "\n"
    "Texts are UTF-8, composed (NFC) and converted to the code page; each header text holds at most\n"
    "100 bytes. A character the code page cannot hold is refused with the field and the character.\n"
    "Refused: with --flat a file name without \".\" and two files of the same name; two paths that\n"
    "differ only in letter case; a name or text the code page cannot hold, a name (its folders\n"
    "included) too long for the install folder (Windows paths end at 259 characters,\n"
    "counted from the stub's Program Files: C:\\Program Files (x86) for the i386 stub, where 64-bit\n"
    "Windows puts a 32-bit program, C:\\Program Files for the x86-64 one), a header text, shortcut\n"
    "or file name that leads outside its folder or is a device name (CON, NUL, COM1, ...), \"|\" in\n"
    "a shortcut target, a line break in a shortcut, a stub that is not an i386 PE32 or x86-64 PE32+\n"
    "GUI program or already carries a package, a missing file, anything but a regular file (in a\n"
    "folder too), more than 65535 files or 2 GB, an unreadable cabinet, part of a multi-cabinet set,\n"
    "a cabinet whose entry list readers would see differently. Sizes and names are checked before\n"
    "any file is read. OUT is written under a temporary name and renamed into place; a device,\n"
    "FIFO, socket or directory at OUT, or an input file, is refused and left as it is. Nothing is\n"
    "written on a refusal. SIGINT, SIGTERM and SIGHUP remove the temporary file; a run that is\n"
    "killed outright (SIGKILL, a crash, a power cut) leaves it beside OUT as OUT.tmpXXXXXX, for\n"
    "the caller to delete (OUT itself is then as it was before the run).\n"
    "\n"
    "--exclude PATTERN is matched against each file's and folder's path below the folder\n"
    "argument it was found in (names joined by \"/\"), and against the name of a file given by\n"
    "itself. A pattern without \"/\" matches any last name (\".gitkeep\", \"*.pdb\", \".git\"), one\n"
    "with \"/\" the whole path (\"docs/*.md\", \"build/tmp\"); * ? and [...] match within one\n"
    "name, never across \"/\", and * matches a leading \".\" too. A folder left out is not read.\n"
    "\n"
    "Exit status: 0 written; 1 refused or failed (a file changed while it was read too), nothing\n"
    "written; 2 wrong command line. With --json an error is also one JSON object on standard\n"
    "output: {\"error\":MESSAGE,\"exit\":STATUS}.\n"
    "\n"
    "The same inputs give the same bytes on any machine and with any number of threads. When\n"
    "SOURCE_DATE_EPOCH is set, no file time is later than it.\n"
    "\n"
    "example:\n"
    "  cabsetup pack -o viewer-setup.exe --product-name \"Example Viewer 2.0\" \\\n"
    "      --short-name Viewer --install-folder \"Example\\Viewer\" --start-menu-folder \"Example\\Viewer\" \\\n"
    "      --shortcut \"Example Viewer=viewer.exe\" --make-uninstaller --license-file license.txt \\\n"
    "      --run readme.txt payload/\n";

#define OUTPUT_OPTIONS                                                                                    \
    "  --quiet                      print nothing but errors\n"                                        \
    "  --progress                   show progress on standard error even when it is no terminal\n"     \
    "                               (on a terminal it shows once the work takes over a second)\n"

// What each header option adds to its field's name in the help.
const char* About(const HeaderField& field)
{
    switch (static_cast<Field>(&field - kHeaderFields)) {
    case Field::ProductName: return " (required)";
    case Field::CompanyFolder: return ", between Program Files and InstallFolder";
    case Field::LicenseFile: return ": one of the packed files";
    case Field::InstallFolder: return " (required), e.g. \"Example\\Viewer\"";
    case Field::StartMenuFolder: return " (required with shortcuts)";
    case Field::MakeUninstaller: return " = 1 (the uninstaller is written only with shortcuts)";
    case Field::UninstallLinkStyle: return " (default 1)";
    default: return "";
    }
}

} // namespace

const char kMainHelp[] =
    "usage: cabsetup COMMAND [OPTIONS]\n"
    "\n"
    "commands:\n"
    "  pack      build an installer: the bare stub, a header, shortcuts and a cabinet\n"
    "  cab       write a cabinet only\n"
    "  inspect   show what a package or cabinet holds and whether the stub accepts it\n"
    "\n"
    "cabsetup COMMAND --help shows the options of a command; cabsetup --version the version.\n"
    "Exit status: 0 success, 1 refused or failed, 2 wrong command line.\n";

bool IsSwitch(const HeaderField& field) { return field.kind != FieldKind::Text && field.limit == 1; }

// The pack help, with the manifest's keys and the header options as the
// table of header fields has them.
std::string PackHelp()
{
    std::string keys, options;
    for (const HeaderField& field : kHeaderFields) {
        if (!field.makerSets)
            continue;
        keys += std::string(keys.empty() ? "" : ", ") + field.key;
        std::string option = "  " + FieldOption(field) + (IsSwitch(field) ? "" : field.kind == FieldKind::Text ? " T" : " N");
        option.resize(std::max<size_t>(option.size() + 1, 31), ' ');
        options += option + field.key + About(field) + "\n";
        if (&field == &FieldOf(Field::MakeUninstaller))
            options += "  --no-uninstaller             MakeUninstaller = 0\n";
    }
    // The key list, wrapped under the manifest option's description.
    std::string wrapped = "  --manifest FILE.ini          keys";
    size_t column = wrapped.size();
    for (size_t at = 0; at < keys.size();) {
        size_t end = std::min(keys.find(' ', at), keys.size());
        const std::string word = keys.substr(at, end - at);
        if (column + 1 + word.size() > 93) {
            wrapped += "\n                              ";
            column = 30;
        }
        wrapped += " " + word;
        column += 1 + word.size();
        at = end + 1;
    }
    wrapped += " in [Package]; Name=Target lines in [Shortcuts]\n";
    std::string help = kPackHelpTemplate;
    help.replace(help.find("@HEADER@"), 8, wrapped + options);
    help.replace(help.find("@OUTPUT@"), 8,
                 OUTPUT_OPTIONS
                 "  --json                       print what was written as one JSON object: output, size,\n"
                 "                               files, cabinet, signature (null or signer and check), warnings\n");
    return help;
}

const char kCabHelp[] =
    "usage: cabsetup cab -o OUT.cab [OPTIONS] FILE-OR-FOLDER...\n"
    "\n"
    "Writes a cabinet with one folder. Without --keep-names the names follow the\n"
    "installer's rules (top level only, a \".\" in every name, no name twice).\n"
    "\n"
    "  --keep-names                 allow stored names with folders (\"dir\\name\": a folder argument keeps\n"
    "                               its relative paths), names without \".\", and repeated names\n"
    "  --entry STORED=PATH          add PATH under the stored name STORED (with --keep-names, any name)\n"
    "  --exclude PATTERN            leave out what PATTERN matches; repeatable (as in cabsetup pack)\n"
    "  --run FILE                   set attribute 0x40 (run after install); repeatable\n"
    "  --attrib FILE=ATTR           set attributes: letters r h s a x (x = 0x40) or a number, e.g. 0x27\n"
    "  --mtime SECONDS              Unix time for every file instead of its modification time\n"
    "  --time-zone ZONE             write file times as seen at ZONE: UTC (default) or e.g. +09:00\n"
    "  --compression KIND           lzx[:BITS] (the default, lzx:21; window 2^BITS, 15 to 21), mszip\n"
    "                               or none\n"
    "  --level N                    MSZIP at level N: 0 (stored) to 9, 7 with mszip; 9 the smallest, far slower\n"
    "  --no-compress                same as --compression none\n"
    "  --threads N                  compression threads: MSZIP blocks at once, LZX one beside the\n"
    "                               parse (default: one per core)\n"
    "  --codepage N                 code page of the stored names (default 65001: UTF-8, flag 0x80)\n"
    "  --force                      replace a symbolic link at OUT.cab\n"
    OUTPUT_OPTIONS
    "\n"
    "FILE in --run and --attrib is a stored name (any letter case) or a path as given.\n"
    "SOURCE_DATE_EPOCH and the output rules are those of cabsetup pack.\n"
    "\n"
    "Exit status: 0 written; 1 refused or failed, nothing written; 2 wrong command line.\n";

const char kInspectHelp[] =
    "usage: cabsetup inspect [--json] [--ca-file CA.pem] [--codepage N] FILE\n"
    "\n"
    "Shows the marker, the record (the code page of the texts and names), the header\n"
    "fields, the shortcuts, the cabinet entries (name, size, date, attributes, run flag)\n"
    "or an uninstaller's file list, and the verdict\n"
    "of the stub's own package reader, which reads the marker, the header, the shortcut\n"
    "list and the payload in turn: bare stub, damaged copy (naming the step that fails\n"
    "and why), valid installer or uninstaller. A cabinet file is listed and verified on\n"
    "its own.\n"
    "A signed installer is read as the stub reads it: only the certificate table that the\n"
    "stub's own security directory names may follow the package. The signature line says\n"
    "\"valid digest, signed by SUBJECT (DIGEST)\" only when the file's Authenticode digest is\n"
    "the signed one and the signer signed it; \"digest mismatch (the file was changed after\n"
    "signing)\" (also for a certificate table taken from another file), \"broken\" when the\n"
    "signer did not sign the digest it holds, \"present, not verified (WHY)\" when it cannot be\n"
    "checked; and whether the package under it is intact.\n"
    "Every cabinet is decoded with libmspack (MSZIP, LZX, Quantum) to verify it.\n"
    "\n"
    "  --json                       one JSON object on standard output\n"
    "  --ca-file CA.pem             also check the signer's chain against these certificates;\n"
    "                               an installer or uninstaller then needs a signature they trust\n"
    "  --codepage N                 the system code page assumed for a package without a record\n"
    "                               (default 1252); a package with one is shown in its own\n"
    "\n"
    "It names the stub's machine and bitness; a file that is no Windows program gets the\n"
    "verdict \"not a Windows program\". A text that leads outside its place is named with its\n"
    "field and rule. The payload is read a piece at a time for its CRC; memory stays small.\n"
    "\n"
    "Exit status: 0 bare stub, valid installer, uninstaller or cabinet; 1 damaged copy (also a file\n"
    "that ends inside the marker), damaged cabinet, an installer whose cabinet cannot be installed\n"
    "(part of a multi-cabinet set, no file, a name the stub refuses, two names differing only in case,\n"
    "a file, link or uninstaller path too long for Windows), a signature that does not hold (digest\n"
    "mismatch, broken, or not trusted by --ca-file), not a Windows program, not a file (a directory,\n"
    "a device, a FIFO), or a file that cannot be read; 2 wrong command line.\n";
