#!/usr/bin/env bash
# Checks that includes point down the layers only, and that OS and toolkit headers stay in the
# platform and backend folders. Prints every offending line; exits 1 when there is one.
set -euo pipefail
cd "${1:-$(dirname "$0")/..}"

# The folders each layer may include from, besides its own.
declare -A allowed=(
  [platform]="platform"
  [support]="platform"
  [compress]=""
  [net]="support platform"
  [ui]="platform"
  [discovery]="support platform"
  [upgrade]="discovery net ui support platform"
  [app]="upgrade discovery net ui support platform"
  [cli]="app upgrade discovery net ui support platform"
  [sim]="platform"
)
# Only the tools and tests may see the simulated platform.
sim_platform_users="sim"

status=0
for layer in "${!allowed[@]}"; do
  [ -d "$layer" ] || continue
  while IFS=: read -r file line text; do
    target=$(sed -E 's/.*#include "([^/"]+)\/.*/\1/' <<<"$text")
    [ "$target" = "$layer" ] && continue
    ok=0
    for a in ${allowed[$layer]}; do [ "$target" = "$a" ] && ok=1; done
    if [ $ok = 1 ] && [[ "$text" == *'"platform/sim/'* ]] && [[ " $sim_platform_users " != *" $layer "* ]]; then ok=0; fi
    if [ $ok = 0 ]; then
      echo "$file:$line: $layer must not include this: $text"
      status=1
    fi
  done < <(grep -rn --include='*.h' --include='*.cpp' -E '^#include "[^/"]+/' "$layer" || true)
  # platform/ itself: the real implementations never reach for the simulated one.
  if [ "$layer" = platform ]; then
    while IFS= read -r hit; do
      echo "$hit: only platform/sim may include the simulated platform"
      status=1
    done < <(grep -rn --include='*.h' --include='*.cpp' '#include "platform/sim/' platform --exclude-dir=sim || true)
  fi
done

# OS and toolkit headers: only platform/ and the backends below ui/ (ui/<backend>/) include them,
# and the simulator's login check, which takes its AES from the system's crypto library.
while IFS= read -r hit; do
  echo "$hit: OS or toolkit header outside platform/ and ui/<backend>/"
  status=1
done < <(grep -rn --include='*.h' --include='*.cpp' -E '#include <(sys/|netinet/|arpa/|net/|ifaddrs\.h|unistd\.h|poll\.h|fcntl\.h|windows\.h|winsock|wx/|gtk/|gdk/)' \
  support compress net ui discovery upgrade app cli sim 2>/dev/null | grep -vE '^(ui/[^/]+/|sim/login_proof\.cpp:)' || true)

[ $status = 0 ] && echo "layers: every include points down"
exit $status
