#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# bandstat-mpi against bandstat: with the same seed, every output of two jobs (-keep, -s,
# -convert, -gof, whose predictive check needs the accepted parameter vectors of every rank)
# is byte for byte the same, whatever the number of ranks and threads; only the run record's
# command line and times may differ. Then an error on a rank other than 0
# ends the run with status 1 and leaves no incomplete file, and an interrupted run resumes
# from its checkpoint, with bandstat or another number of ranks, to the same files.
#
# Usage: outputs.sh BANDSTAT BANDSTAT_MPI DATA_DIR RANKS THREADS
set -uo pipefail
plain=$(realpath "$1")
mpi=$(realpath "$2")
data=$(realpath "$3")
ranks=$4
threads=$5
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
mpirun_cmd=(mpirun --allow-run-as-root --oversubscribe -np "$ranks")
options=(-n 100 -ar 0.05 -seed 11 -keep -s stats -convert -gof 20)
inputs=("$data/rootrot_2pops.txt" "$data/rootrot_18pops.txt")

mkdir "$work/plain" "$work/mpi"
(cd "$work/plain" && "$plain" "${options[@]}" "${inputs[@]}" >console.txt 2>errors.txt) ||
  { echo "bandstat failed"; cat "$work/plain/errors.txt"; exit 1; }
(cd "$work/mpi" &&
  "${mpirun_cmd[@]}" "$mpi" "${options[@]}" -nprocs "$threads" "${inputs[@]}" >console.txt 2>errors.txt) ||
  { echo "bandstat-mpi failed"; cat "$work/mpi/errors.txt"; exit 1; }

# The files of two runs of the same jobs, bandstat's in $1 and bandstat-mpi's in $2, the
# console included (the gauge is part of it).
compare_runs() {
  local plain_dir=$1 mpi_dir=$2 f name filter
  for f in "$plain_dir"/*; do
    name=$(basename "$f")
    [ "$name" = errors.txt ] && continue
    if [ "$name" = console.txt ]; then
      # The time estimate and the durations are measured, not computed.
      filter='^(Calculation, it should take about|Job made in|Cross-validation made in|Goodness of fit made in) '
      if ! diff <(grep -Ev "$filter" "$f") <(grep -Ev "$filter" "$mpi_dir/$name") >/dev/null; then
        echo "the console output differs beyond its times:"; status=1
        diff <(grep -Ev "$filter" "$f") <(grep -Ev "$filter" "$mpi_dir/$name") | head -20
      fi
    elif [[ "$name" == *_run.txt ]]; then
      filter='^(command line|nprocs|start|end|wall seconds|CPU seconds|checkpoints written):'
      if ! diff <(grep -Ev "$filter" "$f") <(grep -Ev "$filter" "$mpi_dir/$name") >/dev/null; then
        echo "run record $name differs beyond its command line and times"; status=1
      fi
    elif ! cmp -s "$f" "$mpi_dir/$name"; then
      echo "$name differs between bandstat and bandstat-mpi -np $ranks -nprocs $threads"; status=1
    fi
    count=$((count + 1))
  done
  local extra
  extra=$(comm -13 <(ls "$plain_dir") <(ls "$mpi_dir"))
  [ -z "$extra" ] || { echo "bandstat-mpi wrote files bandstat does not: $extra"; status=1; }
}
count=0
compare_runs "$work/plain" "$work/mpi"
# Accepted draws (-keep), statistics, conversion: a run that wrote none proves nothing.
for f in rootrot_2pops_Fis1.txt rootrot_18pops_Fst18.txt stats rootrot_18pops_codominant.txt \
  rootrot_18pops_ppc.txt; do
  ls "$work/plain"/$f* >/dev/null 2>&1 || { echo "expected output $f missing"; status=1; }
done

# -method joint: its reference table is simulated on rank 0 alone, and its estimates,
# cross-validation and goodness of fit are the same as bandstat's.
mkdir "$work/joint_plain" "$work/joint_mpi"
joint=(-method joint -sims 20000 -seed 5 -keep -s stats -cv 20 -gof 20 "${inputs[1]}")
(cd "$work/joint_plain" && "$plain" "${joint[@]}" >console.txt 2>errors.txt) ||
  { echo "bandstat -method joint failed"; cat "$work/joint_plain/errors.txt"; status=1; }
(cd "$work/joint_mpi" &&
  "${mpirun_cmd[@]}" "$mpi" -nprocs "$threads" "${joint[@]}" >console.txt 2>errors.txt) ||
  { echo "bandstat-mpi -method joint failed"; cat "$work/joint_mpi/errors.txt"; status=1; }
compare_runs "$work/joint_plain" "$work/joint_mpi"
ls "$work/joint_plain"/rootrot_18pops_cv.txt >/dev/null 2>&1 ||
  { echo "expected output rootrot_18pops_cv.txt of -method joint missing"; status=1; }

# An error on the last rank: status 1, and rank 0 removed the job's incomplete files.
mkdir "$work/fail"
(cd "$work/fail" && BANDSTAT_MPI_FAIL_ON_RANK=$((ranks - 1)) \
  "${mpirun_cmd[@]}" "$mpi" -n 100 -ar 0.05 -seed 11 "${inputs[0]}" >console.txt 2>errors.txt)
rc=$?
[ "$rc" -eq 1 ] || { echo "an error on rank $((ranks - 1)) gave status $rc, not 1"; status=1; }
grep -q "Simulated failure on MPI rank $((ranks - 1))" "$work/fail/errors.txt" ||
  { echo "the failing rank's message is missing"; status=1; }
if ls "$work/fail" | grep -q '\.part$\|_Fis1\.txt$'; then
  echo "incomplete files left after the error: $(ls "$work/fail")"; status=1
fi

# Interrupts. A SIGTERM to rank 0 (what a batch system's cancel sends): status 143, as from
# bandstat. Ctrl-C (SIGINT to mpirun, which sends SIGTERM to every rank): mpirun's own status
# is 1, whatever the ranks end with. Either way rank 0 writes the job's checkpoint and says so,
# and nothing incomplete is left under a final name. The checkpoint then resumes, with
# bandstat or with another number of ranks, to the files of a job never stopped.
job=(-n 1000 -ar 0.01 -seed 11 -keep -s stats)
mkdir "$work/whole"
(cd "$work/whole" && "$plain" "${job[@]}" "${inputs[1]}" >console.txt 2>errors.txt) ||
  { echo "the uninterrupted job failed"; status=1; }
interrupt() {  # interrupt NAME SIGNAL TARGET(rank0|mpirun) EXPECTED_STATUS RESUME_COMMAND...
  local name=$1
  local dir="$work/$1"
  mkdir "$dir"
  (cd "$dir" && exec "${mpirun_cmd[@]}" sh -c 'echo $$ >pid.$OMPI_COMM_WORLD_RANK; exec "$@"' sh \
    "$mpi" "${job[@]}" -nprocs "$threads" "${inputs[1]}" >console.txt 2>errors.txt) &
  local launcher=$!
  for ((i = 0; i < 600; ++i)); do
    grep -q Calculation "$dir/console.txt" 2>/dev/null && [ -s "$dir/pid.0" ] && break
    sleep 0.1
  done
  if [ "$3" = rank0 ]; then kill -"$2" "$(cat "$dir/pid.0")"; else kill -"$2" "$launcher"; fi
  wait "$launcher"
  local rc=$?
  [ "$rc" -eq "$4" ] || { echo "$1: status $rc, not $4"; status=1; }
  grep -q "^Terminated (SIGTERM); checkpoint written to rootrot_18pops_checkpoint" "$dir/errors.txt" ||
    { echo "$1: rank 0's line is missing"; cat "$dir/errors.txt"; status=1; }
  if ls "$dir" | grep -q '_Fis1\.txt$'; then
    echo "$1: incomplete files left under a final name: $(ls "$dir")"; status=1
  fi
  shift 4
  (cd "$dir" && "$@" -resume rootrot_18pops_checkpoint >>console.txt 2>>errors.txt) ||
    { echo "$name: the resume failed"; cat "$dir/errors.txt"; status=1; }
  for f in "$work/whole"/rootrot_18pops_* "$work/whole/stats"; do
    local file
    file=$(basename "$f")
    [[ "$file" == *_run.txt ]] && continue
    cmp -s "$f" "$dir/$file" || { echo "$name: $file differs after the resume"; status=1; }
  done
}
interrupt term_rank0 TERM rank0 143 "$plain" -nprocs 2
interrupt ctrl_c INT mpirun 1 mpirun --allow-run-as-root --oversubscribe -np $((ranks == 2 ? 3 : 2)) "$mpi"

[ "$status" -eq 0 ] && echo "bandstat-mpi -np $ranks -nprocs $threads: $count outputs identical"
exit "$status"
