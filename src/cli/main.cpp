#include "cli/options.h"
#include "cli/session.h"
#include "platform/platform.h"

namespace ostrel {

int run(int argc, const char* const* argv) {
  int count = argc - 1;
  const char* const* args = argv + 1;
  int consumed = parse_options(count, args);
  count -= consumed;
  args += consumed;
  if (count < 1) print_usage();
  Session session(
      budget_descriptors(raise_descriptor_limit(), address_space_limit()));
  for (int i = 0; i < count; ++i) process_argument(args[i], session);
  return 0;
}

}  // namespace ostrel

int main(int argc, char** argv) {
  ostrel::prepare_process();
  int status = ostrel::run(argc, argv);
  ostrel::flush_output();
  return status;
}
