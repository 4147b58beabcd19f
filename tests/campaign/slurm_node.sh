# shellcheck shell=bash disable=SC2034  # slurm_why is read by the caller
# A real single-node Slurm cluster for one test, everything in a temporary folder: its own
# slurm.conf (no authentication daemon: auth/none, cred/none), both daemons addressed on the
# loopback interface (slurmd also binds only there; slurmctld 22.05 has no setting to bind to
# one address and listens on its random port on every interface for the few seconds of the
# test), state, spool and logs beside it. Source this file, then
#   slurm_start DIR    starts slurmctld and slurmd, waits until the node takes jobs
#                      (returns 1 with the reason in $slurm_why when they cannot start)
#   slurm_stop         stops both daemons by their process ids
# and run sbatch, squeue ... with SLURM_CONF exported by slurm_start.

slurm_ctld_pid='' slurm_d_pid='' slurm_why=''

free_port() {
  local p
  for p in $(shuf -i 20000-60000 -n 50); do
    if ! (exec 3<>"/dev/tcp/127.0.0.1/$p") 2>/dev/null; then
      echo "$p"
      return 0
    fi
  done
  return 1
}

slurm_write_conf() {
  local dir=$1 node=$2 ctld_port=$3 d_port=$4 user
  user=$(id -un)
  cat >"$dir/slurm.conf" <<EOF
ClusterName=beamfalltest
SlurmctldHost=$node(127.0.0.1)
SlurmctldPort=$ctld_port
SlurmdPort=$d_port
SlurmUser=$user
SlurmdUser=root
AuthType=auth/none
CredType=cred/none
StateSaveLocation=$dir/state
SlurmdSpoolDir=$dir/spool
SlurmctldPidFile=$dir/slurmctld.pid
SlurmdPidFile=$dir/slurmd.pid
SlurmctldLogFile=$dir/slurmctld.log
SlurmdLogFile=$dir/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
SelectType=select/cons_tres
SelectTypeParameters=CR_Core
MpiDefault=none
CommunicationParameters=NoInAddrAny
ReturnToService=2
SchedulerType=sched/builtin
SlurmctldTimeout=30
SlurmdTimeout=30
InactiveLimit=0
KillWait=5
MinJobAge=5
# Job arrays of at most two tasks: a four-line campaign needs two of them.
MaxArraySize=3
NodeName=$node NodeAddr=127.0.0.1 CPUs=$(nproc) State=UNKNOWN
PartitionName=test Nodes=$node Default=YES MaxTime=INFINITE State=UP
EOF
}

slurm_start() {
  local dir=$1 node ctld_port d_port k
  node=$(hostname -s)
  mkdir -p "$dir/state" "$dir/spool"
  if ! ctld_port=$(free_port) || ! d_port=$(free_port); then
    slurm_why="no free port"
    return 1
  fi
  [[ $ctld_port != "$d_port" ]] || { slurm_why="no two free ports"; return 1; }
  slurm_write_conf "$dir" "$node" "$ctld_port" "$d_port"
  export SLURM_CONF=$dir/slurm.conf
  slurmctld -D -i -f "$SLURM_CONF" >"$dir/slurmctld.out" 2>&1 &
  slurm_ctld_pid=$!
  slurmd -D -f "$SLURM_CONF" -N "$node" >"$dir/slurmd.out" 2>&1 &
  slurm_d_pid=$!
  for ((k = 0; k < 100; ++k)); do
    if ! kill -0 "$slurm_ctld_pid" 2>/dev/null; then
      slurm_why="slurmctld exited: $(tail -n 3 "$dir/slurmctld.log" "$dir/slurmctld.out" 2>/dev/null | tr '\n' ' ')"
      return 1
    fi
    if ! kill -0 "$slurm_d_pid" 2>/dev/null; then
      slurm_why="slurmd exited: $(tail -n 3 "$dir/slurmd.log" "$dir/slurmd.out" 2>/dev/null | tr '\n' ' ')"
      return 1
    fi
    if sinfo -h -N -o '%T' 2>/dev/null | grep -qx idle; then return 0; fi
    sleep 0.2
  done
  slurm_why="the node did not become idle within 20 s: $(sinfo -h -N -o '%T %E' 2>&1 | head -1)"
  return 1
}

slurm_stop() {
  local pid
  for pid in $slurm_d_pid $slurm_ctld_pid; do
    kill "$pid" 2>/dev/null || true
  done
  for pid in $slurm_d_pid $slurm_ctld_pid; do
    wait "$pid" 2>/dev/null || true
  done
  slurm_d_pid='' slurm_ctld_pid=''
}
