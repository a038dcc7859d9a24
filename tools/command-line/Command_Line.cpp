#include "Command_Line.h"

#include <CLI/CLI.hpp>

#include <map>

namespace Selvan::MURA::tools {

using Option = Command_Line::Option;

Option& Option::required() {
    m_option->required();
    return *this;
}

Option& Option::delimiter(char separator) {
    m_option->delimiter(separator);
    return *this;
}

Option& Option::range(int min, int max) {
    m_option->check(CLI::Range(min, max));
    return *this;
}

Option& Option::range(double min, double max) {
    m_option->check(CLI::Range(min, max));
    return *this;
}

Option& Option::positive() {
    m_option->check(CLI::PositiveNumber);
    return *this;
}

Option& Option::one_of(const std::vector<std::string>& values) {
    m_option->check(CLI::IsMember(values));
    return *this;
}

Option& Option::one_of_mapped(const std::vector<std::pair<std::string, int>>& names) {
    const std::map<std::string, int> map(names.begin(), names.end());
    // Named as CLI11 names an option of an enumeration type.
    m_option->type_name("ENUM");
    m_option->transform(CLI::CheckedTransformer(map, CLI::ignore_case));
    return *this;
}

Option& Option::check(std::function<std::string(const std::string&)> validator) {
    m_option->check(std::move(validator));
    return *this;
}

Option& Option::needs(const Option& other) {
    m_option->needs(other.m_option);
    return *this;
}

Option& Option::excludes(const Option& other) {
    m_option->excludes(other.m_option);
    return *this;
}

Command_Line::Command_Line(const std::string& description)
    : m_owned(std::make_unique<CLI::App>(description))
    , m_app(m_owned.get()) {}

Command_Line::Command_Line(CLI::App* subcommand)
    : m_app(subcommand) {}

Command_Line::~Command_Line() = default;

Option Command_Line::add_option(const std::string& name, std::string& value, const std::string& description) {
    return Option(m_app->add_option(name, value, description));
}

Option Command_Line::add_option(const std::string& name, int& value, const std::string& description) {
    return Option(m_app->add_option(name, value, description));
}

Option Command_Line::add_option(const std::string& name, unsigned& value, const std::string& description) {
    return Option(m_app->add_option(name, value, description));
}

Option Command_Line::add_option(const std::string& name, uint64_t& value, const std::string& description) {
    return Option(m_app->add_option(name, value, description));
}

Option Command_Line::add_option(const std::string& name, double& value, const std::string& description) {
    return Option(m_app->add_option(name, value, description));
}

Option Command_Line::add_option(const std::string& name, std::vector<int>& values,
                                const std::string& description) {
    return Option(m_app->add_option(name, values, description));
}

Option Command_Line::add_option(const std::string& name, std::vector<unsigned>& values,
                                const std::string& description) {
    return Option(m_app->add_option(name, values, description));
}

Option Command_Line::add_option(const std::string& name, std::vector<std::string>& values,
                                const std::string& description) {
    return Option(m_app->add_option(name, values, description));
}

Option Command_Line::add_flag(const std::string& name, bool& value, const std::string& description) {
    return Option(m_app->add_flag(name, value, description));
}

Command_Line& Command_Line::add_subcommand(const std::string& name, const std::string& description) {
    m_subcommands.push_back(
        std::unique_ptr<Command_Line>(new Command_Line(m_app->add_subcommand(name, description))));
    return *m_subcommands.back();
}

void Command_Line::require_subcommand(int count) {
    m_app->require_subcommand(count);
}

bool Command_Line::parsed() const {
    return m_app->parsed();
}

std::optional<int> Command_Line::parse(int argc, char** argv) {
    try {
        m_app->parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return m_app->exit(e);
    }
    return std::nullopt;
}

} // namespace Selvan::MURA::tools
