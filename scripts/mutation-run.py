#!/usr/bin/env python3
"""Puts small, realistic faults into the code one at a time and runs the
tests that guard that code; a mutant is killed when a test fails, crashes or
runs past its time. Not part of `make test`: it rebuilds once per mutant.

    scripts/mutation-run.py [--build DIR] [--exclude GTEST_NEGATIVE_FILTER] [NAME...]

--exclude runs the tests without the named suites (for instance to see what
an older test set would have caught). Each file is restored after its mutant,
also when the run is interrupted.
"""
import argparse
import os
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

STORE = ["test_appliance_store"]
BASE = ["test_appliance_base"]
SETTINGS = ["test_settings"]
HOST = ["test_appliance_host"]
MODULE = ["test_module"]
CONTACTS = ["test_contacts"]
SERVER = ["test_appliance_server"]

# name, file, text to find (exactly once), replacement, test programs
MUTANTS = [
    ("card written in place instead of temporary + rename", "appliance/base/file_io.cpp",
     "  const int fd = ::mkostemp(name.data(), O_CLOEXEC);",
     "  name.assign(path.begin(), path.end());\n  name.push_back('\\0');\n"
     "  const int fd = ::open(name.data(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);",
     STORE),
    ("no fsync of the file before the rename", "appliance/base/file_io.cpp",
     "writeAll(fd, content.data(), content.size()) && ::fsync(fd) == 0;",
     "writeAll(fd, content.data(), content.size());", STORE),
    ("no fsync of gathered folders", "appliance/base/file_io.cpp",
     "for (const std::string& folder : pending_) ok = fsyncFolder(folder) && ok;",
     "(void)fsyncFolder;", STORE),
    ("no fsync of a folder outside a gathering", "appliance/base/file_io.cpp",
     "  } else {\n    fsyncFolder(folder);\n  }", "  }", STORE + BASE),
    ("delete under a shared lock", "appliance/store/db_handler.cpp",
     "bool DBHandler::DelCard(std::string guid, std::string resourceName) {\n  try {\n"
     "    StoreLock lock(StoreLock::kExclusive);",
     "bool DBHandler::DelCard(std::string guid, std::string resourceName) {\n  try {\n"
     "    StoreLock lock(StoreLock::kShared);", STORE),
    ("export under a shared lock", "appliance/store/db_handler.cpp",
     "    // Exclusive: the call writes, even though not into the collections.\n"
     "    StoreLock lock(StoreLock::kExclusive);",
     "    StoreLock lock(StoreLock::kShared);", STORE),
    ("set-up under a shared lock", "appliance/store/db_handler.cpp",
     "    StoreLock lock(StoreLock::kExclusive);\n    if (lock.held()) orva_store::setupUser",
     "    StoreLock lock(StoreLock::kShared);\n    if (lock.held()) orva_store::setupUser", STORE),
    ("add and update under a shared lock", "appliance/store/db_handler.cpp",
     "    StoreLock lock(StoreLock::kExclusive);\n    if (!lock.held()) return false;\n"
     "    std::string user;\n    const std::string path = cardPath",
     "    StoreLock lock(StoreLock::kShared);\n    if (!lock.held()) return false;\n"
     "    std::string user;\n    const std::string path = cardPath", STORE),
    ("list under an exclusive lock", "appliance/store/db_handler.cpp",
     "    StoreLock lock(StoreLock::kShared);\n    if (!lock.held()) return 0;",
     "    StoreLock lock(StoreLock::kExclusive);\n    if (!lock.held()) return 0;", STORE),
    ("user map written in the wrong order", "appliance/store/user_map.cpp",
     "  return writeFileAtomic(usersByGuidDir(), guid, user, sync) &&\n"
     "         writeFileAtomic(usersByNameDir(), user, guid, sync);",
     "  return writeFileAtomic(usersByNameDir(), user, guid, sync) &&\n"
     "         writeFileAtomic(usersByGuidDir(), guid, user, sync);", STORE),
    ("user map read without its GUID entry", "appliance/store/user_map.cpp",
     "  if (!isGuidText(guid) || readEntry(usersByGuidDir() + \"/\" + guid) != user) return \"\";",
     "  if (!isGuidText(guid)) return \"\";", STORE),
    ("links followed where O_NOFOLLOW was meant", "appliance/base/file_io.cpp",
     "(links == Links::kRefuse ? O_NOFOLLOW : 0)", "(links == Links::kRefuse ? 0 : 0)",
     STORE + BASE),
    # Survives by design: the O_NOFOLLOW open behind it still skips the link.
    ("linked card files listed", "appliance/store/book_reader.cpp",
     "    } else if (entry->d_type != DT_REG) {", "    } else if (entry->d_type == DT_DIR) {",
     STORE),
    ("linked folders below the store followed", "appliance/store/store_files.cpp",
     "    if (!S_ISDIR(st.st_mode)) return false;\n    if (slash == std::string::npos) return true;",
     "    if (slash == std::string::npos) return true;", STORE),
    ("folder maker follows links below the store", "appliance/base/file_io.cpp",
     "      } else if (guarded && prefix.size() > noLinksBelow.size()) {",
     "      } else if (guarded && prefix.size() > noLinksBelow.size() && false) {", STORE + BASE),
    ("a link in place of a file is replaced", "appliance/base/file_io.cpp",
     "    if (!S_ISREG(old.st_mode)) return false;\n", "", STORE + BASE),
    ("store files readable by all", "appliance/store/store_files.cpp",
     "  options.mode = 0600;", "  options.mode = 0644;", STORE),
    ("store folders open to all", "appliance/store/store_files.cpp",
     "makeFolders(path, 0700,", "makeFolders(path, 0755,", STORE),
    ("deleted card's export copy left behind", "appliance/store/db_handler.cpp",
     "      orva_store::removeFile(copy, impl_->sync);", "      (void)copy;", STORE),
    ("stale temporaries never cleared", "appliance/store/store_files.cpp",
     "  if (cleared.insert(dir).second) orva_file::removeStaleTemps(dir);",
     "  (void)dir;\n  (void)cleared;", STORE),
    ("control characters in a card accepted", "appliance/store/card_check.cpp",
     "  if (hasControlCharacter(text, \"\\t\\r\\n\")) return \"control character\";", "", STORE),
    ("NUL taken as allowed", "appliance/store/text_rules.cpp",
     "(c == '\\0' || std::strchr(allowed, c) == nullptr)", "(std::strchr(allowed, c) == nullptr)",
     STORE),
    ("user names with surrounding blanks set up", "appliance/store/store_layout.cpp",
     "  return name.front() != ' ' && name.back() != ' ';", "  return true;", STORE),
    ("user names of invalid UTF-8 set up", "appliance/store/store_layout.cpp",
     "!isSafeName(name) || !isValidUtf8(name) ||", "!isSafeName(name) ||", STORE),
    ("token file left readable by the group", "appliance/host/http/access_token.cpp",
     "if ((st.st_mode & 077) != 0) {", "if ((st.st_mode & 007) != 0) {", HOST),
    ("token file made group-readable", "appliance/host/http/access_token.cpp",
     "  options.mode = 0600;", "  options.mode = 0640;", HOST),
    ("module table without its end row", "module/api_table.cpp",
     "    {nullptr, 0, nullptr, nullptr},\n};", "};", MODULE),
    ("host reads a table past its end", "appliance/host/api/module_loader.cpp",
     "    if (i >= kMaxRows) {", "    if (false) {", HOST),
    ("set not serialised", "settings/settings_lock.cpp",
     "SettingsLock::SettingsLock() : lock_(OLIBCFileLock(kSettingsLockFile)) {}",
     "SettingsLock::SettingsLock() : lock_(OLIBCFileLock(kSettingsLockFile)) {\n"
     "  OLIBCFileUnlock(lock_);\n  lock_ = 100000;\n}", SETTINGS),
    ("file lock shared between threads", "appliance/base/file_lock.cpp",
     "rc = ::flock(fd, LOCK_EX);", "rc = ::flock(fd, LOCK_SH);", BASE + SETTINGS),
    ("services file that disagrees left alone", "settings/set_common_setting.cpp",
     "httpsText != oldHttpsText || names::servicesFileDiffers(names::kHttpsSection, httpsText);",
     "httpsText != oldHttpsText;", SETTINGS),
    ("a hung program waited for without end", "appliance/base/program_exec.cpp",
     "  if (!waitFor(pid, timeLimitSeconds(), status)) {",
     "  if (!waitFor(pid, timeLimitSeconds() * 0 + 1e9, status)) {", SETTINGS),
    ("a hung program that ignores SIGTERM never killed", "appliance/base/program_exec.cpp",
     "    if (!waitFor(pid, 1, status)) {\n      ::kill(-pid, SIGKILL);",
     "    if (!waitFor(pid, 1e9, status)) {\n      ::kill(-pid, SIGKILL);", SETTINGS),
    ("what a hung program started left running", "appliance/base/program_exec.cpp",
     "    ::kill(-pid, SIGKILL);\n    return -1;", "    return -1;", SETTINGS),
    ("boolean or fractional port taken", "settings/set_common_setting.cpp",
     "  if (!value.isInt()) {", "  if (!value.isConvertibleTo(Json::intValue)) {", SETTINGS),
    ("malformed later id deletes the earlier ones", "contacts/apply_to_cards.cpp",
     "    if (!isResourceNameForm(ids[i].asString())) {",
     "    if (!isResourceNameForm(ids[i].asString()) && false) {", CONTACTS),
    ("two codes swap their texts", "module/error_codes.cpp",
     "    {kConfParse, \"Json conf parse error\"},\n    {kConfDump, \"Json conf dump error\"},",
     "    {kConfParse, \"Json conf dump error\"},\n    {kConfDump, \"Json conf parse error\"},",
     SETTINGS),
    ("logged message read as a format", "module/request_params.cpp",
     "  if (std::strchr(message, '%') == nullptr) {", "  if (true) {", SETTINGS),
    ("export route follows a link planted after the export", "appliance/host/routes/export_download.cpp",
     "O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);", "O_RDONLY | O_CLOEXEC | O_NONBLOCK);",
     HOST),
    ("chunked bodies allowed four times the limit", "appliance/host/http/http_server.cpp",
     "    parser_->body_limit(limit);", "    parser_->body_limit(parser_->chunked() ? 4 * limit : limit);",
     HOST),
    ("realm read under the wrong key", "appliance/package/files/calendarserver_start_stop.sh",
     'realm = conf.get("RealmName",', 'realm = conf.get("Realm",', SERVER),
]


def run(command, timeout=None):
    """Exit status (or "timeout") and the names of the tests that failed."""
    try:
        done = subprocess.run(command, cwd=ROOT, stdout=subprocess.PIPE,
                              stderr=subprocess.DEVNULL, timeout=timeout)
    except subprocess.TimeoutExpired:
        return "timeout", []
    failed = sorted({line.split()[3] for line in done.stdout.decode(errors="replace").splitlines()
                     if line.startswith("[  FAILED  ] ") and len(line.split()) > 3})
    return done.returncode, failed


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--build", default="build-mutants")
    parser.add_argument("--exclude", default="")
    parser.add_argument("--timeout", type=int, default=90)
    parser.add_argument("names", nargs="*")
    args = parser.parse_args()
    build = os.path.join(ROOT, args.build)
    if not os.path.exists(os.path.join(build, "CMakeCache.txt")):
        subprocess.run(["cmake", "-S", ROOT, "-B", build, "-DCMAKE_BUILD_TYPE=RelWithDebInfo",
                        "-DCMAKE_CXX_COMPILER_LAUNCHER=ccache", "-DCMAKE_C_COMPILER_LAUNCHER=ccache"],
                       check=True, stdout=subprocess.DEVNULL)
    chosen = [m for m in MUTANTS if not args.names or any(n in m[0] for n in args.names)]
    killed = survived = stillborn = 0
    for name, path, old, new, programs in chosen:
        full = os.path.join(ROOT, path)
        with open(full) as f:
            original = f.read()
        if original.count(old) != 1:
            print(f"?? {name}: the text to change is not there once", flush=True)
            stillborn += 1
            continue
        try:
            with open(full, "w") as f:
                f.write(original.replace(old, new))
            targets = ["cmake", "--build", build, "-j2", "--target"] + programs + ["orva-webapi"]
            if run(targets)[0] != 0:
                print(f"-- {name}: does not build", flush=True)
                stillborn += 1
                continue
            outcome = "survived"
            for program in programs:
                command = [os.path.join(build, "bin", program)]
                if args.exclude:
                    command.append("--gtest_filter=-" + args.exclude)
                result, failed = run(command, timeout=args.timeout)
                if result != 0:
                    outcome = f"killed by {program} ({result}) {' '.join(failed[:4])}"
                    break
            if outcome == "survived":
                survived += 1
            else:
                killed += 1
            print(f"{'OK' if outcome != 'survived' else 'XX'} {name}: {outcome}", flush=True)
        finally:
            with open(full, "w") as f:
                f.write(original)
    print(f"killed {killed} of {killed + survived} ({stillborn} not built)")
    # Leave the build dir matching the sources again.
    run(["cmake", "--build", build, "-j2"])
    return 0 if survived == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
