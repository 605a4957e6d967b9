#pragma once
// Making a back-office database: the schema, the hand-made training data set, or a
// generated consistent data set of any size.

#include "Database.h"

#include <cstdint>
#include <string>

namespace backoffice {

struct TrainingOperator {
    const char* operatorNo;
    const char* name;
    const char* kind;
    std::int32_t branchNo;
    bool canReview;
    const char* password;
};

// The training operators and their passwords, as the README gives them.
extern const TrainingOperator trainingOperators[4];

void createSchema(Database& db);
// Gives the operator the five menu functions, inside the caller's transaction.
void grantMenuFunctions(Database& db, const std::string& operatorNo);
// Adds to a database made by an earlier version the tables and columns it lacks.
void upgradeSchema(Database& db);
// The schema and the training data set, in one transaction.
void seedTraining(Database& db);
// The schema and the training set's branches, dictionaries, configuration and review rules,
// without clients and without operators, in one transaction: a database to import clients
// into and add operators to.
void seedEmpty(Database& db);
// The schema, the training branches, dictionaries, configuration and operators, and
// `clients` generated clients (1 to 1,000,000), each with a main fund account, every third
// with a second one, every client a shareholder account on exchange 1; `vipPercent` of the
// main fund accounts hold VIP status.
void seedGenerated(Database& db, std::int64_t clients, int vipPercent);

} // namespace backoffice
