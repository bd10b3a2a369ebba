// A stand-in for MPlayer in the player core's tests. It takes MPlayer's arguments and plays
// a "media" file that is a script, one step per line:
//
//   say TEXT        write TEXT and a line feed ("\r", "\n", "\t", "\e", "\\", "\xHH" escapes)
//   raw TEXT        write TEXT without a line feed
//   args            write "ARG=<argument>" for every argument, then "CWD=<working folder>"
//   flood N         write N bytes of "x" without a line break
//   sleep MS        wait
//   until CMD       read commands until one is CMD, writing "GOT <command>" for each
//   serve           read commands and write "GOT <command>" for each; "quit" ends with exit
//                   code 0, "get_percent_pos" also answers "ANS_PERCENT_POSITION=42"; the
//                   end of input ends with exit code 0
//   deaf            stop reading commands and wait to be killed
//   close-input     close standard input
//   exit N          end with exit code N
//   crash           die of a segmentation fault
//
// The end of the script is exit code 0. The script is the last argument, after "--".
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

namespace {

void Write(const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(STDOUT_FILENO, text.data() + done, text.size() - done);
    if (n <= 0) std::_Exit(3);
    done += std::size_t(n);
  }
}

std::string Unescape(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      out += text[i];
      continue;
    }
    const char c = text[++i];
    switch (c) {
      case 'r':
        out += '\r';
        break;
      case 'n':
        out += '\n';
        break;
      case 't':
        out += '\t';
        break;
      case 'e':
        out += '\x1b';
        break;
      case 'x':
        out += char(std::stoi(text.substr(i + 1, 2), nullptr, 16));
        i += 2;
        break;
      default:
        out += c;
        break;
    }
  }
  return out;
}

// One command line from standard input; false at its end.
bool ReadCommand(std::string& command) {
  command.clear();
  char c;
  for (;;) {
    const ssize_t n = ::read(STDIN_FILENO, &c, 1);
    if (n <= 0) return false;
    if (c == '\n') return true;
    command += c;
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    Write("stand-in player: no script\n");
    return 2;
  }
  std::ifstream script(argv[argc - 1]);
  if (!script) {
    Write(std::string("Failed to open ") + argv[argc - 1] + ".\n");
    return 0;
  }
  std::string line;
  while (std::getline(script, line)) {
    const std::size_t space = line.find(' ');
    const std::string verb = line.substr(0, space);
    const std::string rest = space == std::string::npos ? "" : line.substr(space + 1);
    if (verb == "say") {
      Write(Unescape(rest) + "\n");
    } else if (verb == "raw") {
      Write(Unescape(rest));
    } else if (verb == "args") {
      std::string text;
      for (int i = 1; i < argc; ++i) text += std::string("ARG=") + argv[i] + "\n";
      std::vector<char> cwd(4096);
      text += std::string("CWD=") + (::getcwd(cwd.data(), cwd.size()) ? cwd.data() : "?") + "\n";
      Write(text);
    } else if (verb == "flood") {
      const std::string block(65536, 'x');
      for (long left = std::stol(rest); left > 0; left -= long(block.size()))
        Write(block.substr(0, std::size_t(std::min<long>(left, long(block.size())))));
    } else if (verb == "sleep") {
      ::usleep(useconds_t(std::stoi(rest)) * 1000);
    } else if (verb == "until") {
      std::string command;
      while (ReadCommand(command)) {
        Write("GOT " + command + "\n");
        if (command == rest) break;
      }
    } else if (verb == "serve") {
      std::string command;
      while (ReadCommand(command)) {
        Write("GOT " + command + "\n");
        if (command == "quit") return 0;
        if (command == "get_percent_pos") Write("ANS_PERCENT_POSITION=42\n");
      }
      return 0;
    } else if (verb == "deaf") {
      for (;;) ::pause();
    } else if (verb == "close-input") {
      ::close(STDIN_FILENO);
    } else if (verb == "exit") {
      return std::stoi(rest);
    } else if (verb == "crash") {
      std::signal(SIGSEGV, SIG_DFL);  // no sanitizer report: a plain crash
      std::raise(SIGSEGV);
    }
  }
  return 0;
}
