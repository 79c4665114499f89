// Stands in front of malloc and realloc for the code linked into the
// program statically (linked with --wrap=malloc,--wrap=realloc): the
// programs' mains, console support and the layer. With STARVE=N in the
// environment the Nth of those calls fails, as when memory runs out, and
// "starved" goes to standard error; the C library's own allocations are
// not counted.
#include <cstdlib>
#include <unistd.h>

extern "C" void *__real_malloc(size_t size);
extern "C" void *__real_realloc(void *block, size_t size);

static bool Starved()
{
	static long left = getenv("STARVE") != nullptr ? atol(getenv("STARVE")) : 0;
	if (left <= 0 || --left > 0)
		return false;
	return write(2, "starved\n", 8) == 8;
}

extern "C" void *__wrap_malloc(size_t size)
{
	return Starved() ? nullptr : __real_malloc(size);
}

extern "C" void *__wrap_realloc(void *block, size_t size)
{
	return Starved() ? nullptr : __real_realloc(block, size);
}
