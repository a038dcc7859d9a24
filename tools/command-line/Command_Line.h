#pragma once

// The tools' command lines. CLI11 is a header-only library whose headers alone take several
// seconds to compile at every optimisation level; behind this class it is compiled once per
// build instead of once per tool. Help texts, error messages and exit codes are CLI11's own.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace CLI {
class App;
class Option;
} // namespace CLI

namespace Selvan::MURA::tools {

class Command_Line {
public:
    // A handle to one option or flag of the command line, for the checks on its value.
    class Option {
    public:
        explicit Option(CLI::Option* option)
            : m_option(option) {}
        Option& required();
        Option& delimiter(char separator);
        // The value (each value of a list) within [min, max]; the help names it INT or FLOAT.
        Option& range(int min, int max);
        Option& range(double min, double max);
        Option& positive();
        Option& one_of(const std::vector<std::string>& values);
        // The text is one of the names (case ignored) and becomes the number beside it; for an
        // option of an enumeration type, given as its number.
        Option& one_of_mapped(const std::vector<std::pair<std::string, int>>& names);
        // `validator` returns an empty string for a good value, otherwise what is wrong.
        Option& check(std::function<std::string(const std::string&)> validator);
        Option& needs(const Option& other);
        Option& excludes(const Option& other);

    private:
        CLI::Option* m_option;
    };

    explicit Command_Line(const std::string& description);
    ~Command_Line();
    Command_Line(const Command_Line&) = delete;
    Command_Line& operator=(const Command_Line&) = delete;

    Option add_option(const std::string& name, std::string& value, const std::string& description);
    Option add_option(const std::string& name, int& value, const std::string& description);
    Option add_option(const std::string& name, unsigned& value, const std::string& description);
    Option add_option(const std::string& name, uint64_t& value, const std::string& description);
    Option add_option(const std::string& name, double& value, const std::string& description);
    Option add_option(const std::string& name, std::vector<int>& values, const std::string& description);
    Option add_option(const std::string& name, std::vector<unsigned>& values, const std::string& description);
    Option add_option(const std::string& name, std::vector<std::string>& values,
                      const std::string& description);
    Option add_flag(const std::string& name, bool& value, const std::string& description);

    // A subcommand, owned by this command line.
    Command_Line& add_subcommand(const std::string& name, const std::string& description);
    void require_subcommand(int count);
    // After parse: whether this subcommand was given.
    bool parsed() const;

    // Parses the arguments. Returns nothing when the program goes on, or the exit code after
    // CLI11 has printed the help or the error.
    std::optional<int> parse(int argc, char** argv);

private:
    explicit Command_Line(CLI::App* subcommand);

    std::unique_ptr<CLI::App> m_owned;
    CLI::App* m_app;
    std::vector<std::unique_ptr<Command_Line>> m_subcommands;
};

} // namespace Selvan::MURA::tools
