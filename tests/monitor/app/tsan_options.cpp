// ThreadSanitizer settings for the window tests. The toolkit is not built with the
// sanitizer: its own locks (event queue, image-conversion thread pool, the file dialog's
// folder-watching thread) are invisible to it, so accesses the toolkit makes on its own
// data look like races. Those are ignored; every access our code makes is still checked.
// Used only when the test program is built with -fsanitize=thread.
extern "C" const char* __tsan_default_options() { return "ignore_noninstrumented_modules=1"; }
