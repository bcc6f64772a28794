# Five bodies under gravity, stepped with a fixed time step; prints the
# system's energy before and after. Square roots by Newton's method, so
# that every operation is one both languages round the same way.
def root(x):
    if x <= 0.0:
        return 0.0
    y = x
    if y > 1.0:
        y = x * 0.5
    last = 0.0
    while y != last:
        last = y
        y = 0.5 * (y + x / y)
        if y >= last and last != 0.0:
            return last
    return y

pi = 3.141592653589793
solar_mass = 4.0 * pi * pi
days = 365.24
xs = [0.0, 4.84143144246472090, 8.34336671824457987, 12.8943695621391310, 15.3796971148509165]
ys = [0.0, -1.16032004402742839, 4.12479856412430479, -15.1111514016986312, -25.9193146099879641]
zs = [0.0, -0.103622044471123109, -0.403523417114321381, -0.223307578892655734, 0.179258772950371181]
vxs = [0.0, 0.00166007664274403694, -0.00276742510726862411, 0.00296460137564761618, 0.00268067772490389322]
vys = [0.0, 0.00769901118419740425, 0.00499852801234917238, 0.00237847173959480950, 0.00162824170038242295]
vzs = [0.0, -0.0000690460016972063023, 0.0000230417297573763929, -0.0000296589568540237556, -0.0000951592254519715870]
masses = [1.0, 0.000954791938424326609, 0.000285885980666130812, 0.0000436624404335156298, 0.0000515138902046611451]
n = len(xs)
for i in range(n):
    vxs[i] = vxs[i] * days
    vys[i] = vys[i] * days
    vzs[i] = vzs[i] * days
    masses[i] = masses[i] * solar_mass

def offset_momentum():
    px = 0.0
    py = 0.0
    pz = 0.0
    for i in range(n):
        px = px + vxs[i] * masses[i]
        py = py + vys[i] * masses[i]
        pz = pz + vzs[i] * masses[i]
    vxs[0] = -px / solar_mass
    vys[0] = -py / solar_mass
    vzs[0] = -pz / solar_mass

def energy():
    e = 0.0
    for i in range(n):
        e = e + 0.5 * masses[i] * (vxs[i] * vxs[i] + vys[i] * vys[i] + vzs[i] * vzs[i])
        for j in range(i + 1, n):
            dx = xs[i] - xs[j]
            dy = ys[i] - ys[j]
            dz = zs[i] - zs[j]
            e = e - masses[i] * masses[j] / root(dx * dx + dy * dy + dz * dz)
    return e

def advance(dt):
    for i in range(n):
        for j in range(i + 1, n):
            dx = xs[i] - xs[j]
            dy = ys[i] - ys[j]
            dz = zs[i] - zs[j]
            d2 = dx * dx + dy * dy + dz * dz
            mag = dt / (d2 * root(d2))
            mj = masses[j] * mag
            mi = masses[i] * mag
            vxs[i] = vxs[i] - dx * mj
            vys[i] = vys[i] - dy * mj
            vzs[i] = vzs[i] - dz * mj
            vxs[j] = vxs[j] + dx * mi
            vys[j] = vys[j] + dy * mi
            vzs[j] = vzs[j] + dz * mi
    for i in range(n):
        xs[i] = xs[i] + dt * vxs[i]
        ys[i] = ys[i] + dt * vys[i]
        zs[i] = zs[i] + dt * vzs[i]

offset_momentum()
print(energy())
for step in range(5000):
    advance(0.01)
print(energy())
