#include <windows.h>
// After windows.h, which it needs.
#include <psapi.h>

#include <csignal>
#include <stdexcept>
#include <thread>

#include "support/subprocess.hpp"

namespace brackwater_dat::test_support {
namespace {

std::wstring wide(std::string_view text) {
  std::wstring out(text.size(), L'\0');
  const int length = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                           out.data(), static_cast<int>(out.size()));
  out.resize(static_cast<std::size_t>(length));
  return out;
}

[[noreturn]] void fail(const std::string& step) {
  throw std::runtime_error(step + " failed: Windows error " + std::to_string(::GetLastError()));
}

// One argument as the C runtime's parser reads it back: quoted, with the
// backslashes before a quote doubled.
std::wstring quoted(const std::wstring& argument) {
  if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
    return argument;
  }
  std::wstring out = L"\"";
  std::size_t backslashes = 0;
  for (const wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    out.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
    backslashes = 0;
    out += c;
  }
  out.append(2 * backslashes, L'\\');
  return out + L"\"";
}

std::wstring command_line(const std::vector<std::string>& argv) {
  std::wstring line;
  for (const auto& argument : argv) line += (line.empty() ? L"" : L" ") + quoted(wide(argument));
  return line;
}

// The process's environment with `changes` applied, as a block of
// NAME=VALUE texts; names compare without case, as Windows' do.
std::wstring environment_block(const std::vector<EnvChange>& changes) {
  std::vector<std::wstring> vars;
  wchar_t* const block = ::GetEnvironmentStringsW();
  for (const wchar_t* entry = block; *entry != L'\0'; entry += vars.back().size() + 1) {
    vars.emplace_back(entry);
  }
  ::FreeEnvironmentStringsW(block);
  for (const auto& [name, value] : changes) {
    const std::wstring prefix = wide(name) + L"=";
    std::erase_if(vars, [&](const std::wstring& var) {
      return var.size() >= prefix.size() &&
             ::CompareStringOrdinal(var.c_str(), static_cast<int>(prefix.size()), prefix.c_str(),
                                    static_cast<int>(prefix.size()), TRUE) == CSTR_EQUAL;
    });
    if (value) vars.push_back(prefix + wide(*value));
  }
  std::wstring joined;
  for (const auto& var : vars) joined += var + L'\0';
  return joined + L'\0';
}

struct Pipe {
  HANDLE read = nullptr, write = nullptr;
};

// A pipe whose `child_end` the child inherits and whose other end it does not.
Pipe make_pipe(bool child_reads) {
  SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
  Pipe pipe;
  if (!::CreatePipe(&pipe.read, &pipe.write, &inherited, 0)) fail("CreatePipe");
  ::SetHandleInformation(child_reads ? pipe.write : pipe.read, HANDLE_FLAG_INHERIT, 0);
  return pipe;
}

std::string drain(HANDLE handle) {
  std::string text;
  char chunk[65536];
  DWORD got = 0;
  while (::ReadFile(handle, chunk, sizeof chunk, &got, nullptr) && got > 0) text.append(chunk, got);
  ::CloseHandle(handle);
  return text;
}

PROCESS_INFORMATION start(const std::vector<std::string>& argv, HANDLE in, HANDLE out, HANDLE err,
                          const std::wstring* environment, const std::wstring* directory) {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = in;
  startup.hStdOutput = out;
  startup.hStdError = err;
  std::wstring line = command_line(argv);
  PROCESS_INFORMATION process{};
  if (!::CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, CREATE_UNICODE_ENVIRONMENT,
                        environment ? const_cast<wchar_t*>(environment->c_str()) : nullptr,
                        directory ? directory->c_str() : nullptr, &startup, &process)) {
    fail("CreateProcessW " + argv.at(0));
  }
  ::CloseHandle(process.hThread);
  return process;
}

// Ctrl+C reaches every process on a console; this one lets it pass.
BOOL WINAPI let_pass(DWORD) { return TRUE; }

}  // namespace

ProcessResult run_process(const std::vector<std::string>& argv, const ProcessOptions& options) {
  const Pipe in = make_pipe(true), out = make_pipe(false), err = make_pipe(false);
  const std::wstring environment = environment_block(options.env);
  const std::wstring directory = wide(options.working_directory.value_or(""));
  const PROCESS_INFORMATION process =
      start(argv, in.read, out.write, err.write, options.env.empty() ? nullptr : &environment,
            options.working_directory ? &directory : nullptr);
  ::CloseHandle(in.read);
  ::CloseHandle(out.write);
  ::CloseHandle(err.write);
  std::thread writer([&] {
    DWORD wrote = 0;
    for (std::string_view left = options.input; !left.empty(); left.remove_prefix(wrote)) {
      if (!::WriteFile(in.write, left.data(), static_cast<DWORD>(left.size()), &wrote, nullptr)) {
        break;
      }
    }
    ::CloseHandle(in.write);
  });
  std::string error_text;
  std::thread error_reader([&] { error_text = drain(err.read); });
  ProcessResult result;
  result.out = drain(out.read);
  error_reader.join();
  writer.join();
  ::WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 0;
  ::GetExitCodeProcess(process.hProcess, &code);
  ::CloseHandle(process.hProcess);
  result.exit_code = static_cast<int>(code);
  result.err = std::move(error_text);
  return result;
}

// The process shares a console with this one, made for it, so that Ctrl+C
// can be sent to it.
StartedProcess::StartedProcess(const std::vector<std::string>& argv,
                               const std::filesystem::path& out, const std::filesystem::path& err) {
  static const bool console = (::FreeConsole(), ::AllocConsole());
  if (!console) fail("AllocConsole");
  SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
  const auto create = [&](const std::filesystem::path& path, DWORD access, DWORD disposition) {
    const HANDLE handle = ::CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                        &inherited, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) fail("CreateFileW");
    return handle;
  };
  const HANDLE in = create(L"NUL", GENERIC_READ, OPEN_EXISTING);
  const HANDLE out_file = create(out, GENERIC_WRITE, CREATE_ALWAYS);
  const HANDLE err_file = create(err, GENERIC_WRITE, CREATE_ALWAYS);
  const PROCESS_INFORMATION process = start(argv, in, out_file, err_file, nullptr, nullptr);
  ::CloseHandle(in);
  ::CloseHandle(out_file);
  ::CloseHandle(err_file);
  handle_ = reinterpret_cast<std::intptr_t>(process.hProcess);
}

StartedProcess::~StartedProcess() {
  if (handle_ == -1) return;
  const auto process = reinterpret_cast<HANDLE>(handle_);
  ::TerminateProcess(process, 1);
  ::WaitForSingleObject(process, INFINITE);
  ::CloseHandle(process);
}

// Windows has no SIGTERM to send: only Ctrl+C stands for a signal here.
void StartedProcess::stop(int signal) const {
  if (signal != SIGINT) throw std::invalid_argument("only SIGINT has a Windows counterpart");
  static const bool passing = ::SetConsoleCtrlHandler(let_pass, TRUE);
  if (!passing || !::GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0)) fail("GenerateConsoleCtrlEvent");
}

StartedProcess::Ended StartedProcess::wait() {
  const auto process = reinterpret_cast<HANDLE>(std::exchange(handle_, -1));
  ::WaitForSingleObject(process, INFINITE);
  Ended ended;
  DWORD code = 0;
  ::GetExitCodeProcess(process, &code);
  ended.exit_code = static_cast<int>(code);
  PROCESS_MEMORY_COUNTERS counters{};
  if (::GetProcessMemoryInfo(process, &counters, sizeof counters)) {
    ended.peak_memory_kib = static_cast<long>(counters.PeakWorkingSetSize / 1024);
  }
  ::CloseHandle(process);
  return ended;
}

}  // namespace brackwater_dat::test_support
