#!/usr/bin/env bash
# The shared library exports exactly the factory, the version function and the
# interface's virtual table, and needs nothing beyond libc, libstdc++, libm and
# pthreads (the dynamic loader counts as part of libc).
set -u
lib=$1
fail=0
expected=$(printf '%s\n' \
  '_ZN18CTarnXeloMduserApi10GetVersionERiS0_' \
  '_ZN18CTarnXeloMduserApi19CreateXeloMduserApiEPKc' \
  '_ZTV18CTarnXeloMduserApi' | sort)
actual=$(nm -D --defined-only "$lib" | awk '{print $NF}' | sort)
if [ "$actual" != "$expected" ]; then
  echo "exported symbols differ from the public interface:"
  diff <(echo "$expected") <(echo "$actual")
  fail=1
fi
needed=$(readelf -d "$lib" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
for n in $needed; do
  case "$n" in
    libc.so.*|libstdc++.so.*|libm.so.*|libpthread.so.*|ld-linux-x86-64.so.*) ;;
    *) echo "unexpected dependency: $n"; fail=1 ;;
  esac
done
[ -n "$needed" ] || { echo "no NEEDED entries read from $lib"; fail=1; }
if [ $fail = 0 ]; then echo "exports and dependencies as expected"; fi
exit $fail
