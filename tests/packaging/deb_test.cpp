// The Debian package that CPack makes from this build: its name, control
// fields and file list, and a real dpkg installation into a root of its own
// (its own dpkg database, seeded with this system's package states, so that
// the dependencies are checked for real): the programs run, the manual pages
// render, and removal leaves nothing behind.
#include "run.h"
#include "table.h"
#include "text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

static const std::string debDir = DEB_DIR;
static const std::string version = PROJECT_VERSION_TEXT;

static bool HaveTool(const std::string &name)
{
	return Shell("command -v " + name + " >/dev/null").status == 0;
}

static std::string Architecture()
{
	RunResult r = Shell("dpkg --print-architecture");
	return r.status == 0 && !r.out.empty() ? r.out.substr(0, r.out.size() - 1) : "";
}

static std::string DebPath()
{
	return debDir + "/ownerroll_" + version + "_" + Architecture() + ".deb";
}

static std::string Field(const std::string &name)
{
	RunResult r = Shell("dpkg-deb -f " + Quote(DebPath()) + " " + name);
	EXPECT_EQ(r.status, 0) << r.err;
	return r.out;
}

static void RequireDpkg()
{
	if (!HaveTool("dpkg") || !HaveTool("dpkg-deb"))
		GTEST_SKIP() << "dpkg is not installed: not a Debian system";
}

// The only file, named for its version and architecture, with its fields.
TEST(DebPackage, NameAndControlFields)
{
	RequireDpkg();
	ASSERT_FALSE(Architecture().empty());
	RunResult r = Shell("cd " + Quote(debDir) + " && ls -- *.deb");
	EXPECT_EQ(Lines(r.out), std::vector<std::string>{"ownerroll_" + version + "_" + Architecture() + ".deb"});
	EXPECT_EQ(Field("Package"), "ownerroll\n");
	EXPECT_EQ(Field("Version"), version + "\n");
	EXPECT_EQ(Field("Architecture"), Architecture() + "\n");
	EXPECT_EQ(Field("Section"), "utils\n");
	EXPECT_EQ(Field("Priority"), "optional\n");

	// "Name <address>" on one line.
	std::string maintainer = Field("Maintainer");
	size_t lt = maintainer.find(" <");
	EXPECT_TRUE(lt != std::string::npos && lt > 0 && maintainer.find('@', lt) != std::string::npos &&
	            maintainer.size() > 2 && maintainer.compare(maintainer.size() - 2, 2, ">\n") == 0)
	    << maintainer;

	// Synopsis on the first line, the extended description indented below it.
	std::vector<std::string> description = Lines(Field("Description"));
	ASSERT_GE(description.size(), 3u);
	EXPECT_EQ(description[0], "list every process with its owner");
	for (size_t i = 1; i < description.size(); i++)
		EXPECT_EQ(description[i].compare(0, 1, " "), 0) << description[i];
}

// What the package holds, as "path mode", in order: the programs, the
// copyright file and changelog, and the manual pages, with the folders that
// lead to them.
static const std::vector<std::string> packageEntries = {
	"./usr/ drwxr-xr-x", "./usr/bin/ drwxr-xr-x", "./usr/bin/ownerroll -rwxr-xr-x",
	"./usr/bin/taskroll -rwxr-xr-x", "./usr/share/ drwxr-xr-x", "./usr/share/doc/ drwxr-xr-x",
	"./usr/share/doc/ownerroll/ drwxr-xr-x", "./usr/share/doc/ownerroll/changelog.gz -rw-r--r--",
	"./usr/share/doc/ownerroll/copyright -rw-r--r--", "./usr/share/man/ drwxr-xr-x",
	"./usr/share/man/man1/ drwxr-xr-x", "./usr/share/man/man1/ownerroll.1.gz -rw-r--r--",
	"./usr/share/man/man1/taskroll.1.gz -rw-r--r--",
};

// The paths of packageEntries without the trailing slash of a folder,
// "./usr" replaced by prefix; with filesOnly, the files alone.
static std::vector<std::string> PackagePaths(const std::string &prefix, bool filesOnly)
{
	std::vector<std::string> paths;
	for (const std::string &entry : packageEntries) {
		std::string path = entry.substr(0, entry.find(' '));
		if (path.back() == '/' && filesOnly)
			continue;
		if (path.back() == '/')
			path.pop_back();
		paths.push_back(prefix + path.substr(5));
	}
	return paths;
}

TEST(DebPackage, ListsExactlyItsFiles)
{
	RequireDpkg();
	RunResult r = Shell("dpkg-deb -c " + Quote(DebPath()));
	ASSERT_EQ(r.status, 0) << r.err;
	std::vector<std::string> entries;
	for (const std::string &line : Lines(r.out)) {
		// mode owner/group size date time path
		std::vector<std::string> words;
		for (const std::string &w : Split(line, ' '))
			if (!w.empty())
				words.push_back(w);
		ASSERT_EQ(words.size(), 6u) << line;
		EXPECT_EQ(words[1], "root/root") << line;
		entries.push_back(words[5] + " " + words[0]);
	}
	std::sort(entries.begin(), entries.end());
	EXPECT_EQ(entries, packageEntries);
}

// The package's own programs, unpacked into a folder of the test's own.
static std::string Unpack()
{
	char dir[] = WORK_DIR "/extract.XXXXXX";
	if (!mkdtemp(dir))
		return "";
	RunResult x = Shell("dpkg-deb -x " + Quote(DebPath()) + " " + Quote(dir));
	EXPECT_EQ(x.status, 0) << x.err;
	return dir;
}

TEST(DebPackage, ProgramsAreStripped)
{
	RequireDpkg();
	if (!HaveTool("readelf"))
		GTEST_SKIP() << "readelf (binutils) is not installed";
	std::string dir = Unpack();
	ASSERT_FALSE(dir.empty());
	for (const char *program : {"ownerroll", "taskroll"}) {
		RunResult r = Shell("readelf -S -W " + Quote(dir) + "/usr/bin/" + program);
		ASSERT_EQ(r.status, 0) << r.err;
		EXPECT_NE(r.out.find(".text"), std::string::npos) << program;
		EXPECT_EQ(r.out.find(".symtab"), std::string::npos) << program;
		EXPECT_EQ(r.out.find(".debug_info"), std::string::npos) << program;
	}
	Shell("rm -rf " + Quote(dir));
}

// lintian, Debian's own package check, finds nothing to report: no error,
// no warning (its informational notes are not counted).
TEST(DebPackage, LintianIsClean)
{
	RequireDpkg();
	if (!HaveTool("lintian"))
		GTEST_SKIP() << "lintian is not installed";
	RunResult r = Shell("lintian " + Quote(DebPath()) + " 2>&1");
	EXPECT_EQ(r.status, 0) << r.out;
	for (const std::string &line : Lines(r.out))
		EXPECT_TRUE(line.compare(0, 3, "E: ") != 0 && line.compare(0, 3, "W: ") != 0) << line;
}

// The licence travels with the programs: the copyright file, in Debian's
// machine-readable format, carries the text of LICENSE line by line.
TEST(DebPackage, CopyrightFileCarriesTheLicence)
{
	RequireDpkg();
	std::string dir = Unpack();
	ASSERT_FALSE(dir.empty());
	std::string copyright = ReadFile(dir + "/usr/share/doc/ownerroll/copyright");
	EXPECT_EQ(copyright.rfind("Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n", 0), 0u)
	    << copyright;
	EXPECT_NE(copyright.find("\nFiles: *\nCopyright: 2026 ownerroll maintainers\nLicense: Expat\n"),
	          std::string::npos) << copyright;
	std::string licence = ReadFile(SOURCE_DIR "/LICENSE");
	std::string grant = licence.substr(licence.find("Permission is hereby granted"));
	for (const std::string &line : Lines(grant))
		EXPECT_NE(copyright.find("\n " + (line.empty() ? "." : line) + "\n"), std::string::npos) << line;
	Shell("rm -rf " + Quote(dir));
}

// The field hardening-check (devscripts) gives for each check, "" when it
// has none.
static std::string Hardening(const std::string &report, const std::string &check)
{
	size_t at = report.find("\n " + check + ": ");
	return at == std::string::npos ? "" : report.substr(at + check.size() + 4,
	                                                    report.find('\n', at + 1) - at - check.size() - 4);
}

// The programs as shipped are hardened as Debian hardens (fortified where
// optimised without sanitizers, as in the preset default). hardening-check
// finds stack-clash protection only in the probe loop of a variable-sized
// allocation, which the programs do not make: there the probes of their
// fixed frames show it. The control-flow mark goes into a program only when
// every object linked carries it, the C library's start files included:
// where these lack it (Debian 12) the ENDBR64 at the functions' entries
// show it.
TEST(DebPackage, ProgramsAreHardened)
{
	RequireDpkg();
	if (!HaveTool("hardening-check") || !HaveTool("objdump"))
		GTEST_SKIP() << "hardening-check (devscripts) or objdump (binutils) is not installed";
	if (Architecture() != "amd64")
		GTEST_SKIP() << "the instructions looked for are x86-64's";
	if (!HARDENED)
		GTEST_SKIP() << "configured with OWNERROLL_HARDENING=OFF";
	bool startFilesMarked =
	    Shell("readelf -n \"$(gcc -print-file-name=Scrt1.o)\" | grep -q 'x86 feature: IBT, SHSTK'").status == 0;
	std::string dir = Unpack();
	ASSERT_FALSE(dir.empty());
	for (const char *program : {"ownerroll", "taskroll"}) {
		std::string path = Quote(dir + "/usr/bin/" + program);
		std::string report = "\n" + Shell("hardening-check " + path).out;
		for (const char *check : {"Position Independent Executable", "Stack protected", "Read-only relocations",
		                          "Immediate binding"})
			EXPECT_EQ(Hardening(report, check), "yes") << program << ": " << check << report;
		if (FORTIFIED) {
			EXPECT_EQ(Hardening(report, "Fortify Source functions").compare(0, 3, "yes"), 0) << program << report;
		}
		std::string code = Shell("objdump -d --no-show-raw-insn " + path).out;
		if (Hardening(report, "Stack clash protection") != "yes") {
			EXPECT_NE(code.find("orq    $0x0,(%rsp)"), std::string::npos) << program << ": no stack probe";
		}
		if (startFilesMarked) {
			EXPECT_EQ(Hardening(report, "Control flow integrity"), "yes") << program << report;
		} else {
			// The compiler's start files hold two; each function of the program's own adds one.
			size_t entries = 0;
			for (size_t at = code.find("endbr64"); at != std::string::npos; at = code.find("endbr64", at + 1))
				entries++;
			EXPECT_GT(entries, 10u) << program << ": too few ENDBR64 for -fcf-protection";
		}
	}
	Shell("rm -rf " + Quote(dir));
}

// Every shared library the programs load must come from a package the
// package depends on, or it installs where the programs cannot start.
TEST(DebPackage, DependsOnThePackagesOfEveryLibraryLoaded)
{
	RequireDpkg();
	if (!HaveTool("ldd"))
		GTEST_SKIP() << "ldd is not installed";
	std::string depends = Field("Depends");
	std::vector<std::string> dependencies;
	for (std::string item : Split(depends.substr(0, depends.find('\n')), ',')) {
		item.erase(0, item.find_first_not_of(' '));
		dependencies.push_back(item.substr(0, item.find_first_of(" (")));
	}
	EXPECT_NE(std::find(dependencies.begin(), dependencies.end(), "libc6"), dependencies.end()) << depends;

	std::string dir = Unpack();
	ASSERT_FALSE(dir.empty());
	std::vector<std::string> loaded; // the packages of the libraries, as in Depends
	for (const char *program : {"ownerroll", "taskroll"}) {
		// "name => path (address)" for each library found by the loader.
		RunResult ldd = Shell("ldd " + Quote(dir) + "/usr/bin/" + program);
		ASSERT_EQ(ldd.status, 0) << ldd.err;
		int libraries = 0;
		for (const std::string &line : Lines(ldd.out)) {
			size_t arrow = line.find(" => /");
			if (arrow == std::string::npos)
				continue;
			std::string path = line.substr(arrow + 4, line.find(" (", arrow + 4) - arrow - 4);
			RunResult owner = Shell("dpkg -S " + Quote(path) + " || dpkg -S \"$(realpath " + Quote(path) + ")\"");
			ASSERT_EQ(owner.status, 0) << path << " belongs to no package: " << owner.err;
			std::string package = owner.out.substr(0, owner.out.find_first_of(":,"));
			EXPECT_NE(std::find(dependencies.begin(), dependencies.end(), package), dependencies.end())
			    << program << " loads " << path << " of " << package << ", not in Depends: " << depends;
			if (std::find(loaded.begin(), loaded.end(), package) == loaded.end())
				loaded.push_back(package);
			libraries++;
		}
		EXPECT_GT(libraries, 0) << ldd.out;
	}
	// And nothing the programs do not load.
	std::sort(loaded.begin(), loaded.end());
	std::sort(dependencies.begin(), dependencies.end());
	EXPECT_EQ(dependencies, loaded) << depends;
	Shell("rm -rf " + Quote(dir));
}

// The install rules the package is made from, as cmake --install runs them.
TEST(Install, PutsProgramsInBinAndManualPagesInMan1)
{
	char dir[] = WORK_DIR "/prefix.XXXXXX";
	ASSERT_NE(mkdtemp(dir), nullptr);
	RunResult r = Shell(Quote(CMAKE_TOOL) + " --install " + Quote(BUILD_DIR) + " --prefix " + Quote(dir));
	ASSERT_EQ(r.status, 0) << r.out << r.err;
	RunResult list = Shell(std::string("cd ") + Quote(dir) + " && find . -type f | sort");
	ASSERT_EQ(list.status, 0) << list.err;
	EXPECT_EQ(Lines(list.out), PackagePaths(".", true));
	Shell(std::string("rm -rf ") + Quote(dir));
}

// Every test below starts from the package installed into a fresh root.
class DebInstall : public testing::Test {
protected:
	std::string root;

	void SetUp() override
	{
		RequireDpkg();
		if (IsSkipped())
			return;
		char dir[] = WORK_DIR "/root.XXXXXX";
		ASSERT_NE(mkdtemp(dir), nullptr);
		root = dir;
		// The database knows this system's packages, so that dpkg checks
		// the dependencies against what is really installed. Their file
		// lists are left empty: nothing of theirs is in this root.
		RunResult seed = Shell(
		    "set -e; admin=" + Quote(root) + "/var/lib/dpkg;"
		    " mkdir -p \"$admin/info\" \"$admin/updates\";"
		    " cp /var/lib/dpkg/status \"$admin/status\"; : >\"$admin/available\";"
		    " dpkg-query -W -f='${Package}\\n${Package}:${Architecture}\\n' |"
		    " while read -r p; do : >\"$admin/info/$p.list\"; done");
		ASSERT_EQ(seed.status, 0) << seed.err;
		RunResult r = Dpkg("-i " + Quote(DebPath()));
		ASSERT_EQ(r.status, 0) << r.out << r.err;
	}

	void TearDown() override
	{
		if (!root.empty())
			Shell("rm -rf " + Quote(root));
	}

	RunResult Dpkg(const std::string &arguments)
	{
		std::string notRoot = geteuid() == 0 ? "" : " --force-not-root";
		// dpkg wants ldconfig and start-stop-daemon on the PATH, which an
		// ordinary user's PATH on Debian lacks.
		return Shell("PATH=\"$PATH:/usr/sbin:/sbin\" dpkg --root=" + Quote(root) +
		             " --log=/dev/null" + notRoot + " " + arguments);
	}

	std::vector<std::string> FilesOutsideDatabase()
	{
		RunResult r = Shell("cd " + Quote(root) + " && find . -mindepth 1 ! -path './var' ! -path './var/lib'"
		                    " ! -path './var/lib/dpkg' ! -path './var/lib/dpkg/*' | sort");
		EXPECT_EQ(r.status, 0) << r.err;
		return Lines(r.out);
	}
};

TEST_F(DebInstall, InstallsItsFilesAndNothingElse)
{
	RunResult status = Dpkg("-s ownerroll");
	ASSERT_EQ(status.status, 0) << status.err;
	EXPECT_NE(status.out.find("\nStatus: install ok installed\n"), std::string::npos) << status.out;
	EXPECT_NE(status.out.find("\nVersion: " + version + "\n"), std::string::npos) << status.out;

	// Their modes are the package's, checked above.
	EXPECT_EQ(FilesOutsideDatabase(), PackagePaths("./usr", false));
}

// The installed programs run: ownerroll </dev/null prints the whole table,
// a row for this test's own process among its rows; taskroll succeeds
// silently. What the rows hold is the console suites' to check.
TEST_F(DebInstall, ProgramsRun)
{
	RunResult r = RunProgram({root + "/usr/bin/ownerroll"});
	ASSERT_EQ(r.status, 0) << r.err;
	EXPECT_EQ(r.err, "");
	std::vector<TableRow> rows;
	ASSERT_EQ(ParseTable(r.out, &rows), "") << r.out;
	EXPECT_TRUE(std::any_of(rows.begin(), rows.end(), [](const TableRow &row) {
		return row.pid == std::to_string(getpid()) && row.name == "deb_tests";
	})) << r.out;

	r = RunProgram({root + "/usr/bin/taskroll"});
	EXPECT_EQ(r.status, 0) << r.out << r.err;
	EXPECT_EQ(r.out, "");
	EXPECT_EQ(r.err, "");
}

TEST_F(DebInstall, ManualPagesRenderWithoutWarnings)
{
	if (!HaveTool("groff") || !HaveTool("gzip"))
		GTEST_SKIP() << "groff or gzip is not installed";
	for (const std::string program : {"ownerroll", "taskroll"}) {
		std::string page = Quote(root + "/usr/share/man/man1/" + program + ".1.gz");
		RunResult r = Shell("gzip -dc " + page + " | groff -man -Tutf8 -ww -z");
		EXPECT_EQ(r.status, 0) << program;
		EXPECT_EQ(r.err, "") << program;

		RunResult text = Shell("gzip -dc " + page + " | groff -man -Tascii -P-cbou");
		ASSERT_EQ(text.status, 0) << text.err;
		std::string upper = program;
		for (char &c : upper)
			c = (char)toupper((unsigned char)c);
		EXPECT_NE(text.out.find(upper + "(1)"), std::string::npos) << text.out;
		EXPECT_NE(text.out.find("ownerroll " + version), std::string::npos) << "version missing\n" << text.out;
		EXPECT_NE(text.out.find("\nEXIT STATUS\n"), std::string::npos) << text.out;
		EXPECT_EQ(text.out.find('@'), std::string::npos) << "unconfigured placeholder\n" << text.out;

		// The NAME line is what whatis and apropos index.
		if (HaveTool("lexgrog")) {
			RunResult name = Shell("lexgrog " + page);
			EXPECT_EQ(name.status, 0) << name.out << name.err;
			EXPECT_NE(name.out.find("\"" + program + " - "), std::string::npos) << name.out;
		}
	}
}

TEST_F(DebInstall, RemovesCleanly)
{
	RunResult r = Dpkg("-r ownerroll");
	ASSERT_EQ(r.status, 0) << r.out << r.err;
	RunResult status = Dpkg("-s ownerroll");
	EXPECT_NE(status.status, 0) << status.out;
	EXPECT_EQ(status.out.find("install ok installed"), std::string::npos) << status.out;
	EXPECT_EQ(FilesOutsideDatabase(), std::vector<std::string>{});
}
