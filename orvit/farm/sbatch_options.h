// Which options --sbatch may pass on to sbatch, read as sbatch reads them.
#pragma once

#include <string>

namespace orvit::farm {

// An AppError, naming the option, for an `extra` option that orvit sets
// itself (or has an option of its own for), that is no option, or that holds
// a control character; Slurm takes any unambiguous abbreviation of a long
// option, so an abbreviation of one of these is refused as well.
void checkSbatchOption(const std::string& option);

} // namespace orvit::farm
