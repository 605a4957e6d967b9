#pragma once
// What the set-up tool tells about a uservouc.ini that the module reads in silence: keys it
// does not know, values that are no number or no 0/1 flag, sections it does not read,
// repeats, lines that are no setting and an encoding it cannot read. Each finding names
// its line. The module itself reads the file as it always does.

#include <string>
#include <string_view>
#include <vector>

std::vector<std::string> CheckVoucherSettings(std::string_view bytes);
