#pragma once
// Clients with their fund accounts, shareholder accounts, cards and statuses, as CSV: one
// row per fund account (a client without one has one row with the account columns empty),
// under a header row of column names. The columns are described in docs/client-csv.md.

#include "Database.h"

#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

namespace backoffice {

// The columns export writes, in order.
const std::vector<std::string>& clientCsvColumns();

// The file's rows that cannot be imported, each "line N: reason".
class CsvImportError : public std::runtime_error {
public:
    explicit CsvImportError(std::vector<std::string> problems);
    const std::vector<std::string>& problems() const { return problems_; }

private:
    std::vector<std::string> problems_;
};

struct ImportCount {
    std::int64_t clients = 0;
    std::int64_t fundAccounts = 0;
};

// Checks every row of the file's bytes (UTF-8, or GB18030 when they are not UTF-8), then
// adds all of them in one transaction, each client with a journal entry naming the
// administrator; a CsvImportError lists every bad row and nothing is added.
ImportCount importClients(Database& db, const std::string& bytes, const std::string& admin,
                          const std::string& fileName);

// Every client, in the same format, UTF-8.
void exportClients(Database& db, std::ostream& out);

} // namespace backoffice
