#!/bin/bash
# The README's Slurm recipe on a one-node cluster that this test starts from Debian's packages
# (munge, slurmctld, slurmd) as the current user, with its configuration in a temporary
# folder, and stops again: packaging/auralon-slurm-submit submits scan, merge, apply and the
# report; the outputs must be one machine's.
#   slurm_recipe.sh <auralon-cli> <auralon-slurm-submit>
set -euo pipefail
CLI=$1
SUBMIT=$2
WORK=$(mktemp -d)
chmod 755 "$WORK"
started=()
stop() {
  # Only what this test started, by its process id.
  for pid in "${started[@]}"; do kill "$pid" 2> /dev/null || true; done
  for pid in "${started[@]}"; do wait "$pid" 2> /dev/null || true; done
  rm -rf "$WORK"
}
trap stop EXIT
. "$(dirname "$0")/recipe_common.sh"

cluster=$WORK/cluster
mkdir -p "$cluster/munge" "$cluster/state" "$cluster/spool" "$cluster/log"
chmod 700 "$cluster/state" "$cluster/spool"
head -c 1024 /dev/urandom > "$cluster/munge/munge.key"
chmod 400 "$cluster/munge/munge.key"
munged -F -f -S "$cluster/munge/socket" --key-file="$cluster/munge/munge.key" --pid-file="$cluster/munge/munged.pid" \
  --seed-file="$cluster/munge/seed" --log-file="$cluster/log/munged.log" 2> /dev/null &
started+=($!)

host=$(hostname -s)
port=$((20000 + $$ % 20000))
export SLURM_CONF=$cluster/slurm.conf
cat > "$SLURM_CONF" <<CONF
ClusterName=auralontest
SlurmctldHost=$host(127.0.0.1)
SlurmUser=$(id -un)
SlurmdUser=$(id -un)
SlurmctldPort=$port
SlurmdPort=$((port + 1))
AuthType=auth/munge
AuthInfo=socket=$cluster/munge/socket
CredType=cred/munge
StateSaveLocation=$cluster/state
SlurmdSpoolDir=$cluster/spool
SlurmctldPidFile=$cluster/slurmctld.pid
SlurmdPidFile=$cluster/slurmd.pid
SlurmctldLogFile=$cluster/log/slurmctld.log
SlurmdLogFile=$cluster/log/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
SwitchType=switch/none
MpiDefault=none
JobCompType=jobcomp/none
AccountingStorageType=accounting_storage/none
JobAcctGatherType=jobacct_gather/none
SelectType=select/cons_tres
SelectTypeParameters=CR_Core
ReturnToService=2
NodeName=$host NodeAddr=127.0.0.1 CPUs=$(nproc) State=UNKNOWN
PartitionName=auralon Nodes=$host Default=YES MaxTime=INFINITE State=UP OverSubscribe=YES
CONF
for _ in $(seq 50); do [ -S "$cluster/munge/socket" ] && break; sleep 0.1; done
slurmctld -D -f "$SLURM_CONF" 2> "$cluster/log/slurmctld.err" &
started+=($!)
slurmd -D -f "$SLURM_CONF" -N "$host" 2> "$cluster/log/slurmd.err" &
started+=($!)
for _ in $(seq 100); do sinfo -h -o %T 2> /dev/null | grep -q idle && break; sleep 0.2; done
if ! sinfo -h -o %T | grep -q idle; then
  echo "FAIL: the one-node cluster did not come up" >&2
  cat "$cluster"/log/* >&2
  exit 1
fi

make_set
run_local --album --format=mp3

# The recipe, as the README gives it.
ids=$("$SUBMIT" --shards=3 --records="$WORK/records" --plan="$WORK/plan.jsonl" --root="$WORK/src" \
  --files-from="$WORK/list" --report="$WORK/report.json" --cli="$CLI" --sbatch=--output="$WORK/slurm-%x-%a.log" \
  -- --album --format=mp3 -o "$WORK/out")
echo "submitted: $ids"
last=${ids##* }
for _ in $(seq 600); do
  [ -z "$(squeue -h 2> /dev/null)" ] && break
  sleep 0.5
done
state=$(scontrol show job "$last" 2> /dev/null | sed -n 's/.*JobState=\([A-Z]*\).*/\1/p')
if [ -n "$(squeue -h)" ] || [ "${state:-COMPLETED}" != COMPLETED ]; then
  echo "FAIL: the Slurm jobs did not all complete (last: ${state:-gone})" >&2
  squeue >&2 || true
  cat "$WORK"/slurm-*.log >&2 || true
  exit 1
fi
same_as_local
grep -q '"kind": *"set"' "$WORK/report.json" || { echo "FAIL: no report" >&2; cat "$WORK"/slurm-*.log >&2; exit 1; }
