// The changes that turn one list of rows into the next, so that a rebuild of a long list goes
// to the browser as the few rows it changed. Rows are compared as their JSON text: a row that
// changed in any way is dropped and its new form inserted.
#pragma once

#include <string>
#include <vector>

namespace orv::host::web {

// A JSON array of steps applied in order to the earlier rows: a positive n keeps the next n, a
// negative n drops the next n, an array inserts its rows. The steps cover every earlier row.
// Rows that stay keep their order: those kept are a longest run of earlier rows, in order,
// that the later list still holds, so one row moved or changed costs one drop and one insert.
std::string row_patch(const std::vector<std::string>& before,
                      const std::vector<std::string>& after);

}  // namespace orv::host::web
