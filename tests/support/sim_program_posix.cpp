#include "support/sim_program.h"

#include <signal.h>

namespace vexel::test {
namespace {

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    lines.push_back(text.substr(start, end - start));
  }
  return lines;
}

}  // namespace

SimProgram::SimProgram(std::vector<std::string> args, ChildProcess::Options options) {
  Start(std::move(args), std::move(options));
}

SimProgram::~SimProgram() {
  if (m_process) Stop(SIGTERM);
}

bool SimProgram::Start(std::vector<std::string> args, ChildProcess::Options options) {
  args.insert(args.begin(), VEXEL_MODULE_SIM_PATH);
  options.argv = std::move(args);
  m_process.emplace(options);
  return m_process->Pid() > 0;
}

const std::string& SimProgram::Path() const {
  if (!m_pathRead) {
    m_path = m_process->FirstLine();
    m_pathRead = true;
  }
  return m_path;
}

bool SimProgram::ReadLine(std::string& line, std::chrono::milliseconds deadline) {
  const size_t wanted = m_nextLine + 1;
  const auto enough = [wanted](const std::string& out) {
    size_t lines = 0;
    for (char c : out) lines += c == '\n';
    return lines >= wanted;
  };
  if (!m_process->WaitForOut(enough, deadline)) return false;
  line = Lines()[m_nextLine++];
  return true;
}

bool SimProgram::WaitEvent(const std::string& event, nlohmann::json& found,
                           std::chrono::milliseconds deadline) {
  const auto end = std::chrono::steady_clock::now() + deadline;
  std::string line;
  while (ReadLine(line, std::chrono::duration_cast<std::chrono::milliseconds>(
                            end - std::chrono::steady_clock::now()))) {
    const nlohmann::json parsed = nlohmann::json::parse(line, nullptr, false);
    if (parsed.is_object() && parsed.value("event", "") == event) {
      found = parsed;
      return true;
    }
  }
  return false;
}

std::string SimProgram::Stderr() const { return m_process->Err(); }

int SimProgram::Finish(std::chrono::milliseconds deadline) {
  m_process->ReadAllOut();
  return m_process->WaitExit(deadline);
}

std::vector<std::string> SimProgram::Lines() const { return SplitLines(m_process->Out()); }

std::vector<nlohmann::json> SimProgram::Events() const {
  std::vector<nlohmann::json> events;
  for (const std::string& line : Lines()) {
    nlohmann::json parsed = nlohmann::json::parse(line, nullptr, false);
    if (parsed.is_object()) events.push_back(std::move(parsed));
  }
  return events;
}

std::vector<std::string> SimProgram::Requests() const {
  std::vector<std::string> frames;
  for (const auto& event : Events()) {
    if (event["event"] == "request") frames.push_back(event["frame"]);
  }
  return frames;
}

// Reads all output on, or a program that blocks on a full pipe would never end.
int SimProgram::Stop(int signo) {
  m_process->ReadAllOut();
  m_process->Signal(signo);
  return m_process->WaitExit();
}

}  // namespace vexel::test
