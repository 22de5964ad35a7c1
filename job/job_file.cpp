#include "job/job_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <toml++/toml.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <filesystem>
#include <map>
#include <tuple>

#include "job/file_safety.h"
#include "log/text_format.h"
#include "log/unique_fd.h"
#include "update/link_table.h"
#include "update/metrics_listen.h"

namespace {

// Every table of a job file and its keys; anything else is an error, so a misspelt key is
// never silently ignored.
const std::map<std::string_view, std::vector<std::string_view>>& KnownKeys() {
    static const std::map<std::string_view, std::vector<std::string_view>> keys{
        {"job", {"name", "file", "sha256"}},
        {"station", {"link", "slots", "match", "device_type"}},
        {"expect", {"device_id", "bootloader_min"}},
        {"lot", {"id", "size", "stop_after_failures_in_a_row", "stop_below_yield"}},
        {"operator", {"required"}},
        {"hook", {"on_result", "timeout_seconds", "stop_on_hook_failure"}},
        {"metrics", {"listen"}},
    };
    return keys;
}
constexpr std::array kYieldKeys{std::string_view("percent"), std::string_view("after")};

std::string_view TypeName(toml::node_type type) {
    switch (type) {
        case toml::node_type::table:
            return "a table";
        case toml::node_type::array:
            return "an array";
        case toml::node_type::string:
            return "a string";
        case toml::node_type::integer:
            return "an integer";
        case toml::node_type::floating_point:
            return "a number";
        case toml::node_type::boolean:
            return "a boolean";
        default:
            return "a date or time";
    }
}

// Reads one job's tables into a Job, collecting every error with its place.
class JobReader {
  public:
    JobReader(const std::string& path, Job& job) : path_(path), job_(job) {}

    void Read(const toml::table& root) {
        for (const auto& [key, node] : root) {
            const auto known = KnownKeys().find(key.str());
            if (known == KnownKeys().end()) {
                Error(key.source(),
                      std::string(node.is_table() ? "unknown table \"" : "unknown key \"") +
                          std::string(key.str()) + "\"");
            } else if (!node.is_table()) {
                WrongType(node, key.str(), "a table");
            } else {
                CheckKeys(*node.as_table(), key.str(), known->second);
            }
        }
        ReadJob(root);
        ReadStation(root);
        ReadExpect(root);
        ReadLot(root);
        ReadHook(root);
        job_.operatorRequired =
            Get<bool>(root, "operator", "required", "a boolean").value_or(false);
        job_.metricsListen = Get<std::string>(root, "metrics", "listen", "a string");
        if (job_.metricsListen) {
            if (const std::optional<std::string> error = MetricsListenError(*job_.metricsListen)) {
                errors_.push_back({0, 0, path_ + ": \"metrics.listen\" " + *error});
            }
        }
    }

    // The hook program can be changed by another user.
    bool Unsafe() const { return unsafe_; }

    std::vector<std::string> Errors() {
        // Errors with a place in the file's order, then those without.
        std::stable_sort(errors_.begin(), errors_.end(), [](const Placed& a, const Placed& b) {
            return std::tuple(a.line == 0, a.line, a.column) <
                   std::tuple(b.line == 0, b.line, b.column);
        });
        std::vector<std::string> texts;
        for (const Placed& e : errors_) {
            texts.push_back(e.text);
        }
        return texts;
    }

  private:
    struct Placed {
        std::uint32_t line = 0;
        std::uint32_t column = 0;
        std::string text;
    };

    void Error(const toml::source_region& where, const std::string& text) {
        errors_.push_back({where.begin.line, where.begin.column,
                           path_ + ":" + std::to_string(where.begin.line) + ":" +
                               std::to_string(where.begin.column) + ": " + text});
    }
    void Missing(std::string_view dotted) {
        errors_.push_back({0, 0, path_ + ": missing key \"" + std::string(dotted) + "\""});
    }
    void WrongType(const toml::node& node, std::string_view dotted, std::string_view wanted) {
        Error(node.source(), "\"" + std::string(dotted) + "\" must be " + std::string(wanted) +
                                 ", not " + std::string(TypeName(node.type())));
    }

    void CheckKeys(const toml::table& table, std::string_view prefix,
                   std::span<const std::string_view> known) {
        for (const auto& [key, node] : table) {
            if (std::find(known.begin(), known.end(), key.str()) == known.end()) {
                Error(key.source(),
                      "unknown key \"" + std::string(prefix) + "." + std::string(key.str()) + "\"");
            }
        }
    }

    // The node of table.key when the table is one; nothing when absent.
    static const toml::node* Node(const toml::table& root, std::string_view table,
                                  std::string_view key) {
        const toml::table* t = root[table].as_table();
        return t != nullptr ? t->get(key) : nullptr;
    }

    template <typename T>
    std::optional<T> Get(const toml::table& root, std::string_view table, std::string_view key,
                         std::string_view wanted, bool required = false) {
        const std::string dotted = std::string(table) + "." + std::string(key);
        const toml::node* node = Node(root, table, key);
        if (node == nullptr) {
            if (required) {
                Missing(dotted);
            }
            return std::nullopt;
        }
        if (std::optional<T> value = node->value_exact<T>()) {
            return value;
        }
        WrongType(*node, dotted, wanted);
        return std::nullopt;
    }

    // A whole number at least `least` (and at most `most`).
    std::optional<std::int64_t> Count(const toml::table& root, std::string_view table,
                                      std::string_view key, std::int64_t least,
                                      std::int64_t most = INT64_MAX) {
        const std::optional<std::int64_t> value = Get<std::int64_t>(root, table, key, "an integer");
        if (value && (*value < least || *value > most)) {
            Error(Node(root, table, key)->source(),
                  "\"" + std::string(table) + "." + std::string(key) + "\" must be " +
                      (most == INT64_MAX
                           ? "at least " + std::to_string(least)
                           : "from " + std::to_string(least) + " to " + std::to_string(most)));
            return std::nullopt;
        }
        return value;
    }

    std::vector<std::string> Strings(const toml::node& node, std::string_view dotted) {
        std::vector<std::string> strings;
        const toml::array* array = node.as_array();
        if (array == nullptr) {
            WrongType(node, dotted, "an array of strings");
            return strings;
        }
        for (const toml::node& element : *array) {
            if (const std::optional<std::string> text = element.value_exact<std::string>()) {
                strings.push_back(*text);
            } else {
                WrongType(element, std::string(dotted) + "[]", "a string");
            }
        }
        return strings;
    }

    void ReadJob(const toml::table& root) {
        job_.name = Get<std::string>(root, "job", "name", "a string", true).value_or("");
        if (const std::optional<std::string> file =
                Get<std::string>(root, "job", "file", "a string", true)) {
            const std::filesystem::path folder = std::filesystem::path(path_).parent_path();
            job_.file = std::filesystem::path(*file).is_absolute() || folder.empty()
                            ? *file
                            : (folder / *file).string();
        }
        if (std::optional<std::string> hash =
                Get<std::string>(root, "job", "sha256", "a string", true)) {
            hash = LowerCase(*hash);
            if (hash->size() != 64 || !std::all_of(hash->begin(), hash->end(), [](char c) {
                    return std::isxdigit(static_cast<unsigned char>(c)) != 0;
                })) {
                Error(Node(root, "job", "sha256")->source(),
                      "\"job.sha256\" must be 64 hexadecimal digits");
            }
            job_.fileSha256 = *hash;
        }
    }

    void ReadStation(const toml::table& root) {
        const std::optional<std::string> link =
            Get<std::string>(root, "station", "link", "a string", true);
        if (!link) {
            return;
        }
        const LinkRow* row = FindLink(UpperCase(*link));
        if (row == nullptr) {
            Error(Node(root, "station", "link")->source(),
                  "\"station.link\" " + *link + " is unknown: use " + LinkKeywords());
            return;
        }
        job_.link = row->keyword;
        const bool slotLink = row->arrival == LinkArrival::FixtureSlots;
        if (const toml::node* slotList = Node(root, "station", "slots")) {
            job_.slotAddresses = Strings(*slotList, "station.slots");
            if (!slotLink) {
                Error(slotList->source(), "\"station.slots\" is for link UDP or COM");
            }
        }
        if (const toml::node* match = Node(root, "station", "match")) {
            for (const std::string& text : Strings(*match, "station.match")) {
                if (const std::optional<UsbId> id = ParseUsbId(text)) {
                    job_.match.push_back(*id);
                } else {
                    Error(match->source(), "\"station.match\" " + text + " is not VID:PID in hex");
                }
            }
            if (!row->takesSerialAdapters) {
                Error(match->source(), "\"station.match\" is for link COM");
            }
        }
        if (slotLink && job_.slotAddresses.empty() && job_.match.empty()) {
            Error(root["station"].node()->source(),
                  std::string("the job names no device: give \"station.slots\"") +
                      (row->takesSerialAdapters ? " or \"station.match\"" : ""));
        }
        if (const std::optional<std::string> type =
                Get<std::string>(root, "station", "device_type", "a string")) {
            job_.deviceType = SlotDeviceType(*row, *type);
            if (job_.deviceType == nullptr) {
                Error(Node(root, "station", "device_type")->source(),
                      "\"station.device_type\" " + *type + " is not known for " + job_.link);
            }
        }
    }

    void ReadExpect(const toml::table& root) {
        if (const std::optional<std::int64_t> id = Count(root, "expect", "device_id", 0, 255)) {
            job_.deviceId = static_cast<std::uint8_t>(*id);
        }
        const std::optional<std::string> text =
            Get<std::string>(root, "expect", "bootloader_min", "a string");
        if (!text) {
            return;
        }
        job_.bootloaderMin = ParseBootloaderVersion(*text);
        if (!job_.bootloaderMin) {
            Error(Node(root, "expect", "bootloader_min")->source(),
                  "\"expect.bootloader_min\" must be a version such as \"1.05\"");
        }
    }

    void ReadLot(const toml::table& root) {
        job_.lotId = Get<std::string>(root, "lot", "id", "a string");
        job_.lotSize = Count(root, "lot", "size", 1);
        job_.stopAfterFailuresInARow = Count(root, "lot", "stop_after_failures_in_a_row", 1);
        const toml::node* node = Node(root, "lot", "stop_below_yield");
        if (node == nullptr) {
            RequireLotId(root);
            return;
        }
        const toml::table* rule = node->as_table();
        if (rule == nullptr) {
            WrongType(*node, "lot.stop_below_yield", "a table { percent, after }");
            return;
        }
        CheckKeys(*rule, "lot.stop_below_yield", kYieldKeys);
        const std::optional<double> percent = (*rule)["percent"].value<double>();
        const std::optional<std::int64_t> after = (*rule)["after"].value_exact<std::int64_t>();
        if (!percent || *percent < 0 || *percent > 100 || !after || *after < 1) {
            Error(node->source(),
                  "\"lot.stop_below_yield\" must be { percent = 0 to 100, "
                  "after = at least 1 }");
            return;
        }
        job_.stopBelowYield = JobYieldRule{*percent, *after};
        RequireLotId(root);
    }

    // The lot's size and stop rules count the records of the lot, which its id names.
    void RequireLotId(const toml::table& root) {
        if (!job_.lotId && (job_.lotSize || job_.stopAfterFailuresInARow || job_.stopBelowYield)) {
            Error(root["lot"].node()->source(),
                  "\"lot.id\" is missing: the lot's size and stop rules count its records");
        }
    }

    void ReadHook(const toml::table& root) {
        job_.hookTimeoutSeconds = Count(root, "hook", "timeout_seconds", 1);
        job_.stopOnHookFailure =
            Get<bool>(root, "hook", "stop_on_hook_failure", "a boolean").value_or(false);
        const toml::node* node = Node(root, "hook", "on_result");
        if (node == nullptr) {
            return;
        }
        std::vector<std::string> argv = Strings(*node, "hook.on_result");
        if (argv.empty() || argv[0].empty()) {
            Error(node->source(), "\"hook.on_result\" must name a program");
            return;
        }
        // Absolute, so that whatever runs it never searches PATH for it.
        std::error_code ec;
        const std::filesystem::path folder = std::filesystem::path(path_).parent_path();
        argv[0] = std::filesystem::absolute(folder / argv[0], ec).lexically_normal().string();
        const std::string& program = argv[0];
        struct stat st {};
        if (::stat(program.c_str(), &st) != 0) {
            Error(node->source(), "the hook program " + program + " does not exist");
        } else if (!S_ISREG(st.st_mode) || ::access(program.c_str(), X_OK) != 0) {
            Error(node->source(),
                  "the hook program " + program + " is not executable: chmod +x " + program);
        } else if (const std::optional<std::string> unsafe = UnsafePathReason(program)) {
            Error(node->source(), "the hook program: " + *unsafe);
            unsafe_ = true;
        }
        job_.hookArgv = std::move(argv);
    }

    const std::string& path_;
    Job& job_;
    std::vector<Placed> errors_;
    bool unsafe_ = false;
};

// The job file's bytes, read from one open file whose safety is judged on that same file.
bool ReadJobFile(const std::string& path, std::string& bytes, JobLoad& load) {
    const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    struct stat st {};
    if (!fd.Valid() || ::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        load.errors.push_back(path + ": cannot be read as a job file");
        load.exitCode = kExitJobInvalid;
        return false;
    }
    std::optional<std::string> unsafe = UnsafeFileReason(path, st);
    if (!unsafe) {
        unsafe = UnsafeFolderReason(path);
    }
    if (unsafe) {
        load.errors.push_back(*unsafe);
        load.exitCode = kExitJobUnsafe;
    }
    char buffer[4096];
    for (ssize_t n; (n = ::read(fd.Get(), buffer, sizeof buffer)) != 0;) {
        if (n < 0) {
            load.errors.push_back(path + ": cannot be read as a job file");
            load.exitCode = kExitJobInvalid;
            return false;
        }
        bytes.append(buffer, static_cast<std::size_t>(n));
    }
    return true;
}

}  // namespace

JobLoad LoadJob(const std::string& path) {
    JobLoad load;
    std::string bytes;
    if (!ReadJobFile(path, bytes, load)) {
        return load;
    }
    auto job = std::make_shared<Job>();
    job->path = path;
    job->sha256 = Sha256Hex(bytes);
    try {
        const toml::table root = toml::parse(bytes, path);
        JobReader reader(path, *job);
        reader.Read(root);
        for (std::string& error : reader.Errors()) {
            load.errors.push_back(std::move(error));
        }
        if (reader.Unsafe()) {
            load.exitCode = kExitJobUnsafe;
        }
    } catch (const toml::parse_error& error) {
        const toml::source_position& at = error.source().begin;
        load.errors.push_back(path + ":" + std::to_string(at.line) + ":" +
                              std::to_string(at.column) + ": " + std::string(error.description()));
    }
    if (load.exitCode == 0 && !load.errors.empty()) {
        load.exitCode = kExitJobInvalid;
    }
    if (load.exitCode == 0) {
        load.job = std::move(job);
    }
    return load;
}
