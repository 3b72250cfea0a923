// Runs the program as a user runs it, for the scan's tests: to the end with its output
// captured, or as a child whose error stream the test reads line by line.
#pragma once

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace bm7::testing {

struct Finished {
    int status = -1;
    std::string out;
    std::string err;
    long peakKilobytes = 0;  // the child's peak resident memory
};

// A running program whose standard error the test reads; standard output goes to a file.
class Child {
public:
    explicit Child(const std::vector<std::string>& arguments,
                   const std::string& outputFile = "/dev/null") {
        int fds[2];
        if (pipe(fds) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            dup2(fds[1], STDERR_FILENO);
            const int output = open(outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(output, STDOUT_FILENO);
            close(fds[0]);
            close(fds[1]);
            std::vector<char*> argv{const_cast<char*>(BM7_PROGRAM)};
            for (const std::string& argument : arguments)
                argv.push_back(const_cast<char*>(argument.c_str()));
            argv.push_back(nullptr);
            execv(BM7_PROGRAM, argv.data());
            _exit(127);
        }
        close(fds[1]);
        errors_ = fds[0];
    }
    ~Child() {
        if (errors_ >= 0) close(errors_);
        if (pid_ > 0 && status_ < 0) wait();
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    // The next line of the error stream, without its newline; false at its end.
    bool readLine(std::string& line) {
        line.clear();
        char c;
        while (read(errors_, &c, 1) == 1) {
            if (c == '\n') return true;
            line += c;
        }
        return !line.empty();
    }
    void signal(int number) { kill(pid_, number); }
    pid_t pid() const { return pid_; }
    // Waits for the end; the exit status, or 128 + the signal that ended it.
    int wait() {
        int raw = 0;
        rusage usage{};
        if (wait4(pid_, &raw, 0, &usage) == pid_) {
            status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
            peakKilobytes_ = usage.ru_maxrss;
        }
        return status_;
    }
    long peakKilobytes() const { return peakKilobytes_; }

private:
    pid_t pid_ = -1;
    int errors_ = -1;
    int status_ = -1;
    long peakKilobytes_ = 0;
};

inline std::string fileText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Runs the program to its end; its standard output passes through `outputFile`.
inline Finished runToEnd(const std::vector<std::string>& arguments, const std::string& outputFile) {
    Child child(arguments, outputFile);
    Finished finished;
    std::string line;
    while (child.readLine(line)) finished.err += line + "\n";
    finished.status = child.wait();
    finished.peakKilobytes = child.peakKilobytes();
    finished.out = fileText(outputFile);
    return finished;
}

}  // namespace bm7::testing
