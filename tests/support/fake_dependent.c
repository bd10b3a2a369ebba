/* Stands in for a media library whose own dependency cannot be found. */
int tovamo_fake_dependency_marker(void);
int tovamo_fake_dependent_marker(void) {
  return tovamo_fake_dependency_marker();
}
