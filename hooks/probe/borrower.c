/* A library with no hook entry points of its own that links one which has them (the probe
 * built with PROBE_PROCESS_ONLY): what it borrows is no hook of its own. It calls the
 * lender, so that the link to it is kept. */
const char *probe_record(void);
int probe_borrower_marker(void);
int probe_borrower_marker(void) {
  return probe_record()[0];
}
