/* The dependency of fake_dependent; the tests never place it where it can be found. */
int tovamo_fake_dependency_marker(void) {
  return 7;
}
