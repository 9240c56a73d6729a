#!/usr/bin/env bash
# Fails unless the client IDs a build may carry are taken when they hold only
# characters a URL carries unescaped, none is defined when they are empty,
# and anything else stops the configuration, naming the variable but never
# the secret's value.
set -euo pipefail
module=$1
driver=$(mktemp --suffix=.cmake)
trap 'rm -f "$driver"' EXIT
cat >"$driver" <<DRIVER
include("$module")
tidewell_built_in_client_definitions(out "\${MS}" "\${GID}" "\${SECRET}")
message("definitions: \${out}")
DRIVER
long=$(printf 'a%.0s' $(seq 201))
# Microsoft ID | Google ID | Google secret | what the configuration says first
table="|||definitions: 
0e5c1e0d-7a11|||definitions: TIDEWELL_MICROSOFT_CLIENT_ID=\"0e5c1e0d-7a11\"
|1-x.apps.googleusercontent.com|GOCSPX-a_b~c.d|definitions: TIDEWELL_GOOGLE_CLIENT_ID=\"1-x.apps.googleusercontent.com\";TIDEWELL_GOOGLE_CLIENT_SECRET=\"GOCSPX-a_b~c.d\"
a\"b|||TIDEWELL_MICROSOFT_CLIENT_ID \"a\"b\": at most 200
|a\\b||TIDEWELL_GOOGLE_CLIENT_ID \"a\\b\": at most 200
|a b||TIDEWELL_GOOGLE_CLIENT_ID \"a b\": at most 200
|x|s3cret\"x|TIDEWELL_GOOGLE_CLIENT_SECRET: at most 200
||s3cret|TIDEWELL_GOOGLE_CLIENT_SECRET is set without TIDEWELL_GOOGLE_CLIENT_ID
$long|||TIDEWELL_MICROSOFT_CLIENT_ID \"$long\": at most 200"
status=0
while IFS='|' read -r ms gid secret expected; do
  said=$(cmake -DMS="$ms" -DGID="$gid" -DSECRET="$secret" -P "$driver" 2>&1 </dev/null | tr -s ' \n' ' ' |
         sed 's/^ *CMake Error at [^:]*:[0-9]* ([a-z_]*): //; s/^ *//') || true
  if [[ "$said" != "$expected"* ]]; then
    echo "MS=$ms GID=$gid: expected \"$expected\", got \"$said\""
    status=1
  fi
  if [[ "$expected" != definitions:* && -n "$secret" && "$said" == *"$secret"* ]]; then
    echo "a secret's value was printed: $said"
    status=1
  fi
done <<<"$table"
[ "$status" -eq 0 ] && echo "built-in client IDs: $(wc -l <<<"$table") cases"
exit $status
