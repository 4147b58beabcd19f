# Sourced by test scripts that must run something as an unprivileged user (root ignores
# file permissions). As root, `unprivileged_begin DIR` hands DIR to the user nobody and
# sets the array as_user to the command prefix that runs as that user (setpriv, or else
# runuser); as any other user the prefix is empty. Returns 77 when root has neither.
unprivileged_user=nobody
as_user=()

unprivileged_begin() {
  local dir=$1 uid gid
  [ "$(id -u)" = 0 ] || return 0
  uid=$(id -u "$unprivileged_user") && gid=$(id -g "$unprivileged_user") || {
    echo "there is no user '$unprivileged_user' to run the tests as" >&2
    return 1
  }
  if command -v setpriv >/dev/null; then
    as_user=(setpriv --reuid="$uid" --regid="$gid" --clear-groups)
  elif command -v runuser >/dev/null; then
    as_user=(runuser -u "$unprivileged_user" --)
  else
    echo "skipped: running as root, which ignores file permissions, and neither setpriv" \
      "nor runuser (util-linux) is installed to run the tests as an unprivileged user"
    return 77
  fi
  chown -R "$uid:$gid" "$dir"
  "${as_user[@]}" test -r "$dir" -a -x "$dir" || {
    echo "user $unprivileged_user can't enter $dir: every directory above it must let others in" >&2
    return 1
  }
}
