#pragma once
// Where the voucher settings file uservouc.ini lives: the session's working directory
// followed directly by the file name.

#include <string>

std::string VoucherIniPath();
