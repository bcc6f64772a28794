"""Runs a command whose standard output is a pipe set not to block, and
reads it only after a pause, so that the pipe fills and the writer's writes
meet EAGAIN. Prints the bytes read, the line count, the exit status and the
command's standard error."""
import fcntl
import os
import subprocess
import sys
import time

read_end, write_end = os.pipe()
flags = fcntl.fcntl(write_end, fcntl.F_GETFL)
fcntl.fcntl(write_end, fcntl.F_SETFL, flags | os.O_NONBLOCK)
child = subprocess.Popen(sys.argv[1:], stdout=write_end, stderr=subprocess.PIPE)
os.close(write_end)
time.sleep(0.3)
data = b""
while True:
    chunk = os.read(read_end, 65536)
    if not chunk:
        break
    data += chunk
status = child.wait()
print(len(data), data.count(b"\n"), status, child.stderr.read().decode().strip())
