#include "Log.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include <spdlog/details/log_msg.h>
#include <spdlog/pattern_formatter.h>
#include <spdlog/sinks/basic_file_sink.h>
#include <spdlog/sinks/stdout_sinks.h>

namespace Selvan::MURA::logging {
namespace {

struct File_Sink {
    std::string path;
    int max_verbosity;
    std::shared_ptr<spdlog::sinks::sink> sink;
};

struct Callback_Sink {
    std::string id;
    int max_verbosity;
    Callback callback;
};

thread_local int t_scope_depth = 0;
// A plain array: a thread-local object with a destructor costs every thread of a host an exit
// handler in the Windows build's thread-local emulation.
constexpr size_t LAST_ERROR_CAPACITY = 512;
thread_local char t_last_error[LAST_ERROR_CAPACITY];

void remember_last_error(std::string_view text) {
    const size_t count = std::min(text.size(), LAST_ERROR_CAPACITY - 1);
    std::memcpy(t_last_error, text.data(), count);
    t_last_error[count] = '\0';
}

spdlog::level::level_enum spdlog_level_for(int verbosity) {
    if (verbosity <= Verbosity_ERROR)
        return spdlog::level::err;
    if (verbosity == Verbosity_WARNING)
        return spdlog::level::warn;
    if (verbosity == Verbosity_INFO)
        return spdlog::level::info;
    return spdlog::level::debug;
}

std::string verbosity_tag(int verbosity) {
    if (verbosity <= Verbosity_ERROR)
        return " ERR";
    if (verbosity == Verbosity_WARNING)
        return "WARN";
    if (verbosity == Verbosity_INFO)
        return "INFO";
    return fmt::format("{:>4}", verbosity);
}

// The sinks live for the whole process: objects destroyed at exit (the adapter's globals)
// still log, so the registry is never torn down. Files are flushed after every line instead.
class Registry {
public:
    static Registry& instance() {
        static Registry* registry = new Registry();
        return *registry;
    }

    int cutoff() const { return m_cutoff.load(std::memory_order_relaxed); }

    void set_console_verbosity(int verbosity) {
        std::lock_guard lock(m_mutex);
        m_console_verbosity = verbosity;
        update_cutoff();
    }

    int console_verbosity() {
        std::lock_guard lock(m_mutex);
        return m_console_verbosity;
    }

    bool add_file(const std::string& path, int max_verbosity) {
        std::shared_ptr<spdlog::sinks::sink> sink;
        try {
            sink = std::make_shared<spdlog::sinks::basic_file_sink_mt>(path, true);
        } catch (const std::exception& e) {
            write(Verbosity_ERROR, fmt::format("Cannot open log file {} : {}", path, e.what()));
            return false;
        }
        sink->set_formatter(make_formatter());
        std::lock_guard lock(m_mutex);
        std::erase_if(m_files, [&](const File_Sink& f) { return f.path == path; });
        m_files.push_back({path, max_verbosity, std::move(sink)});
        update_cutoff();
        return true;
    }

    void remove_file(const std::string& path) {
        std::lock_guard lock(m_mutex);
        std::erase_if(m_files, [&](const File_Sink& f) { return f.path == path; });
        update_cutoff();
    }

    void add_callback(const std::string& id, Callback callback, int max_verbosity) {
        std::lock_guard lock(m_mutex);
        std::erase_if(m_callbacks, [&](const Callback_Sink& c) { return c.id == id; });
        m_callbacks.push_back({id, max_verbosity, std::move(callback)});
        update_cutoff();
    }

    void remove_callback(const std::string& id) {
        std::lock_guard lock(m_mutex);
        std::erase_if(m_callbacks, [&](const Callback_Sink& c) { return c.id == id; });
        update_cutoff();
    }

    void write(int verbosity, std::string_view text) { write(verbosity, text, text); }

    // Callbacks get `text`; the console and the files get `decorated_text` with the verbosity
    // tag and this thread's scope indentation. Callbacks run under the registry lock and must
    // not log themselves.
    void write(int verbosity, std::string_view text, std::string_view decorated_text) {
        const std::string decorated = decorate(verbosity, decorated_text);
        const spdlog::details::log_msg message("", spdlog_level_for(verbosity), decorated);
        std::lock_guard lock(m_mutex);
        if (verbosity <= m_console_verbosity)
            m_console->log(message);
        for (auto& file : m_files) {
            if (verbosity <= file.max_verbosity) {
                file.sink->log(message);
                file.sink->flush();
            }
        }
        for (auto& callback : m_callbacks) {
            if (verbosity <= callback.max_verbosity)
                callback.callback(verbosity, text);
        }
    }

private:
    Registry()
        : m_console(std::make_shared<spdlog::sinks::stderr_sink_mt>()) {
        m_console->set_formatter(make_formatter());
        update_cutoff();
    }

    static std::unique_ptr<spdlog::formatter> make_formatter() {
        return std::make_unique<spdlog::pattern_formatter>("%Y-%m-%d %H:%M:%S.%e (%5t) %v");
    }

    static std::string decorate(int verbosity, std::string_view text) {
        std::string line = verbosity_tag(verbosity) + "| ";
        for (int i = 0; i < t_scope_depth; ++i)
            line += ".   ";
        line += text;
        // Some messages carry their own line end; the sinks add one already.
        if (!line.empty() && line.back() == '\n')
            line.pop_back();
        return line;
    }

    void update_cutoff() {
        int cutoff = m_console_verbosity;
        for (const auto& file : m_files)
            cutoff = std::max(cutoff, file.max_verbosity);
        for (const auto& callback : m_callbacks)
            cutoff = std::max(cutoff, callback.max_verbosity);
        m_cutoff.store(cutoff, std::memory_order_relaxed);
    }

    std::mutex m_mutex;
    std::shared_ptr<spdlog::sinks::sink> m_console;
    int m_console_verbosity = Verbosity_INFO;
    std::vector<File_Sink> m_files;
    std::vector<Callback_Sink> m_callbacks;
    std::atomic<int> m_cutoff{Verbosity_INFO};
};

} // namespace

void set_console_verbosity(int verbosity) {
    Registry::instance().set_console_verbosity(verbosity);
}
int console_verbosity() {
    return Registry::instance().console_verbosity();
}
int current_verbosity_cutoff() {
    return Registry::instance().cutoff();
}
bool add_file(const std::string& path, int max_verbosity) {
    return Registry::instance().add_file(path, max_verbosity);
}
void remove_file(const std::string& path) {
    Registry::instance().remove_file(path);
}
void add_callback(const std::string& id, Callback callback, int max_verbosity) {
    Registry::instance().add_callback(id, std::move(callback), max_verbosity);
}
void remove_callback(const std::string& id) {
    Registry::instance().remove_callback(id);
}
void write_line(int verbosity, std::string_view text) {
    if (verbosity == Verbosity_ERROR)
        remember_last_error(text);
    Registry::instance().write(verbosity, text);
}

std::string last_error_of_this_thread() {
    return t_last_error;
}

void set_last_error_of_this_thread(std::string text) {
    remember_last_error(text);
}

Log_Scope::Log_Scope(int verbosity, std::string name)
    : m_verbosity(verbosity)
    , m_active(is_enabled(verbosity))
    , m_name(std::move(name))
    , m_start(std::chrono::steady_clock::now()) {
    if (!m_active)
        return;
    write_line(m_verbosity, "{ " + m_name);
    ++t_scope_depth;
}

Log_Scope::~Log_Scope() {
    if (!m_active)
        return;
    --t_scope_depth;
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - m_start;
    Registry::instance().write(m_verbosity, "} " + m_name,
                               fmt::format("}} {:.3f} s: {}", elapsed.count(), m_name));
}

} // namespace Selvan::MURA::logging
