#!/usr/bin/env bash
# Builds the capture, pipeline and delivery tests under ThreadSanitizer into
# ./build-tsan and runs them (the soak test, the pipeline's send, behaviour
# and fault tests, the delivery tests). Not part of scripts/test.sh: it
# takes too long for CI's time budget on two cores.
# report_signal_unsafe=0: a fault becomes a C++ exception thrown out of the
# signal handler (the reporter's design, -fnon-call-exceptions), so the
# sanitizer takes everything a program does after it caught a fault for
# code inside the handler. Suppressions, each with its reason, are in
# scripts/tsan.supp.
set -euo pipefail
cd "$(dirname "$0")/.."
targets=(pipeline_soak_test pipeline_soak_program pipeline_send_test pipeline_behaviour_test
         pipeline_fault_test delivery_test)
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVEK_SANITIZE=thread \
  -DVEK_BUILD_BENCH=OFF "$@"
cmake --build build-tsan -j "$(nproc)" --target "${targets[@]}"
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:report_signal_unsafe=0:suppressions=$PWD/scripts/tsan.supp"
# The soak program's threads wait in the capture lock, where the sanitizer
# holds back the signal that pauses a thread: it reports their stacks only
# in the plain and AddressSanitizer runs.
export VEK_SOAK_OWN_STACK_ONLY=1
status=0
for t in pipeline_soak_test pipeline_send_test pipeline_fault_test; do
  "build-tsan/tests/crashreport/pipeline/$t" || status=1
done
# Twenty threads faulting at once wait in the capture lock while the report
# pauses them: the same held-back signal, so that test runs in the other passes.
build-tsan/tests/crashreport/pipeline/pipeline_behaviour_test \
  --gtest_filter=-PipelineBehaviour.TwentyThreadsFaultingAtOnceAreReportedOneAtATime || status=1
build-tsan/tests/crashreport/delivery/delivery_test || status=1
exit $status
