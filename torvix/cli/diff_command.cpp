#include "torvix/cli/diff_command.h"

#include <cerrno>
#include <cstring>
#include <iostream>
#include <memory>
#include <optional>
#include <stdexcept>

#include "common/cli/output.h"
#include "torvix/channels/channel_list.h"
#include "torvix/channels/list_diff.h"
#include "torvix/cli/program_name.h"
#include "torvix/ops/factory_report.h"

namespace torvix::cli {

namespace {

// The list in `path`, or the exit code after its message on `err`.
std::optional<channels::ChannelList> Open(const std::string& path, std::ostream& err, int& exitCode) {
  channels::OpenResult opened;
  try {
    opened = channels::OpenListFile(path);
  } catch (const std::exception&) {
    // A stream that throws on a read error (a folder) is a file that cannot be read.
    const int error = errno != 0 ? errno : EIO;
    opened.status = channels::OpenResult::Status::kUnreadable;
    opened.message = path + ": " + std::strerror(error);
  }
  switch (opened.status) {
    case channels::OpenResult::Status::kOk:
      // What the image held that the list leaves out.
      for (const std::string& note : opened.notes) err << common::cli::OwnLine(kProgramName, path + ": " + note) << '\n';
      return std::move(opened.list);
    case channels::OpenResult::Status::kRefused: {
      // The reader's message as it is, behind the file and line it is about.
      std::string message = TextErrorAt(path, opened.message);
      if (message.empty() || message.back() != '\n') message += '\n';
      err << message;
      exitCode = common::kExitRefused;
      return std::nullopt;
    }
    case channels::OpenResult::Status::kUnreadable:
      // The message names the file: "torvix-cli: A: No such file or directory".
      err << common::cli::OwnLine(kProgramName, opened.message) << '\n';
      exitCode = common::kExitFile;
      return std::nullopt;
  }
  return std::nullopt;
}

}  // namespace

int DiffCommand(const std::string& pathA, const std::string& pathB, bool json, std::ostream& out, std::ostream& err) {
  int exitCode = common::kExitOk;
  const std::optional<channels::ChannelList> a = Open(pathA, err, exitCode);
  if (!a) return exitCode;
  const std::optional<channels::ChannelList> b = Open(pathB, err, exitCode);
  if (!b) return exitCode;
  const std::vector<channels::HeaderChange> header = channels::DiffHeader(*a, *b);
  const std::vector<channels::Difference> differences = channels::Diff(*a, *b);
  if (json) {
    out << channels::DiffJson(header, differences) << '\n';
  } else {
    for (const std::string& line : channels::DiffLines(header, differences)) out << line << '\n';
  }
  if (!out.flush()) {
    err << common::cli::FileError(kProgramName, common::cli::kStandardOutputName, std::strerror(errno))
        << '\n';
    return common::kExitFile;
  }
  return header.empty() && differences.empty() ? common::kExitOk : kExitListsDiffer;
}

void AddDiffCommand(CLI::App& app, CommandOutcome& outcome) {
  auto* sub = app.add_subcommand("diff", "Compare two channel lists (factory-data texts or database images)");
  sub->footer(
      "Compares the lists by identity, not by position: a satellite is its orbital position and name, a\n"
      "transponder its satellite, frequency and polarization, a service its transponder and service id.\n"
      "Prints one difference per line (\"+\" added in B, \"-\" removed from A, or a changed field with its old\n"
      "and new value); --json prints one object with the arrays added, removed and changed.\n"
      "Exit codes: 0 the lists are the same; 1 they differ; 2 wrong command line; 3 a text was refused or an\n"
      "image is not valid (the message names the line); 10 a file could not be read.");
  struct Arguments {
    std::string a;
    std::string b;
    bool json = false;
  };
  auto args = std::make_shared<Arguments>();
  sub->add_option("A", args->a, "the first list: factory-data text or database image")->required()->type_name("FILE");
  sub->add_option("B", args->b, "the second list: factory-data text or database image")->required()->type_name("FILE");
  sub->add_flag("--json", args->json, "print the differences as one JSON object");
  sub->callback([args, &outcome] { outcome.exitCode = DiffCommand(args->a, args->b, args->json, std::cout, std::cerr); });
}

}  // namespace torvix::cli
