# Shared by the benchmark scripts (sourced, not run): prepares a clean run
# folder with a configuration over given logs, and builds the benchmark's
# analyzer.
#
# prepare_run_folder RUN_DIR LOG_PATTERN [ANALYSE_YEARS]
#
# Empties RUN_DIR and gives it reports/ and html/, copies of the bundled
# example's pattern lists (the run writes its unknown-agent files next to
# them) and a sorvik.conf that reads LOG_PATTERN with the example's language
# file, writes every report and keeps its state files in RUN_DIR.
# ANALYSE_YEARS is "yes" or "no" (the default). With CHARTS=yes in the
# environment the configuration also asks for the charts on the pages
# (html_charts=yes). Needs $repo, the repository.

# A value of the bundled example's configuration (its paths are relative to
# the repository).
example_value() {
  sed -n "s/^$1[ =]*\(.*[^ ]\) *$/\1/p" "$repo/examples/sorvik.conf" | tail -n 1
}

prepare_run_folder() {
  local run="$1" logs="$2" years="${3:-no}"
  rm -rf "$run"
  mkdir -p "$run/reports" "$run/html"
  cp "$repo/$(example_value Browser)" "$run/browser.txt"
  cp "$repo/$(example_value OpSys)" "$run/opsys.txt"
  cat >"$run/sorvik.conf" <<CONF
logfiles=$logs
targetdir=$run/reports
htmldir=$run/html
Lang_file=$repo/$(example_value Lang_file)
Browser=$run/browser.txt
OpSys=$run/opsys.txt
Results=$run/results.txt
Errlogfile=$run/errlog.txt
Host_file=$run/host.dat
Host_Url=www.example.org
Analyse_Years=$years
CONF
  if [[ ${CHARTS:-no} == yes ]]; then
    echo "html_charts=yes" >>"$run/sorvik.conf"
  fi
}

# Prints the path of the analyzer with the resolver that answers at once,
# built for use (scripts/build_optimized.sh, in build-bench/) unless BINARY
# names one. Needs $repo.
bench_binary() {
  if [[ -n "${BINARY:-}" ]]; then
    echo "$BINARY"
    return
  fi
  bash "$repo/scripts/build_optimized.sh" "$repo/build-bench" >/dev/null
  echo "$repo/build-bench/instant_dns_sorvik"
}
