/* Stands in for a media library that lacks the entry points the program binds. */
int tovamo_fake_library_marker(void) {
  return 42;
}
