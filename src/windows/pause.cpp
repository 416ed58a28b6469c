#include "console.h"

#include <cstdlib>

// The pause writes to the console itself, so what stdout holds goes out
// first. Whether it could run or not, the program ends the same way.
void wait_for_key()
{
	(void)std::fflush(stdout);
	[[maybe_unused]] const int status = std::system("pause");
}
