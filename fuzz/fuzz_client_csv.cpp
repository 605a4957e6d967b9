// Imports any bytes as a client CSV into a database with the reference data and no
// clients: a bad file is a CsvImportError that adds nothing, never anything else.

#include "ClientCsv.h"
#include "JournalKey.h"
#include "Seed.h"

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <system_error>

namespace {

// The folder of the databases, removed when the run ends.
struct Folder {
    std::filesystem::path path =
        std::filesystem::temp_directory_path() / ("fuzz_client_csv-" + std::to_string(::getpid()));
    ~Folder() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
};

std::int64_t clients(backoffice::Database& db) {
    backoffice::Statement s = db.prepare("SELECT count(*) FROM client");
    return s.step() ? s.integer(0) : -1;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    namespace fs = std::filesystem;
    static const Folder work;
    const fs::path& folder = work.path;
    static const std::string empty = (folder / "empty.db").string();
    static const std::string path = (folder / "office.db").string();
    static const bool made = [] {
        fs::create_directories(folder);
        backoffice::Database db(empty, true);
        backoffice::seedEmpty(db);
        return true;
    }();
    (void)made;
    // Each input starts from the same database, so that a finding replays alone.
    for (const char* suffix : {"", "-wal", "-shm"})
        fs::remove(path + suffix);
    fs::copy_file(empty, path, fs::copy_options::overwrite_existing);
    fs::copy_file(backoffice::journalKeyPath(empty), backoffice::journalKeyPath(path),
                  fs::copy_options::overwrite_existing);
    backoffice::Database db(path, false, false);
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    try {
        backoffice::importClients(db, bytes, "fuzz", "clients.csv");
    } catch (const backoffice::CsvImportError&) {
        if (clients(db) != 0)
            __builtin_trap();
    }
    return 0;
}
