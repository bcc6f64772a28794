# A simulation whose class instances hold Floats: 2,000 particles in a box
# under gravity and drag, bouncing off the walls, stepped 150 times; the
# energy and the centre of mass are reported along the way.
class Particle:
    def __init__(self, x, y, vx, vy, mass):
        self.x = x
        self.y = y
        self.vx = vx
        self.vy = vy
        self.mass = mass

    def step(self, dt):
        self.vy = self.vy - 9.81 * dt
        self.vx = self.vx * 0.999
        self.vy = self.vy * 0.999
        self.x = self.x + self.vx * dt
        self.y = self.y + self.vy * dt
        if self.x < 0.0:
            self.x = -self.x
            self.vx = -self.vx
        elif self.x > 100.0:
            self.x = 200.0 - self.x
            self.vx = -self.vx
        if self.y < 0.0:
            self.y = -self.y
            self.vy = -self.vy * 0.9

    def energy(self):
        return 0.5 * self.mass * (self.vx * self.vx + self.vy * self.vy) + self.mass * 9.81 * self.y


class World:
    def __init__(self, n):
        self.particles = []
        seed = 12345
        for i in range(0, n):
            seed = (seed * 1103515245 + 12345) % 2147483648
            x = (seed // 65536) % 1000 / 10.0
            seed = (seed * 1103515245 + 12345) % 2147483648
            y = (seed // 65536) % 1000 / 10.0
            seed = (seed * 1103515245 + 12345) % 2147483648
            vx = ((seed // 65536) % 200 - 100) / 10.0
            seed = (seed * 1103515245 + 12345) % 2147483648
            vy = ((seed // 65536) % 200 - 100) / 10.0
            self.particles.append(Particle(x, y, vx, vy, 1.0 + i % 5))

    def step(self, dt):
        for p in self.particles:
            p.step(dt)

    def energy(self):
        total = 0.0
        for p in self.particles:
            total += p.energy()
        return total

    def centre(self):
        mass = 0.0
        x = 0.0
        y = 0.0
        for p in self.particles:
            mass += p.mass
            x += p.mass * p.x
            y += p.mass * p.y
        return [x / mass, y / mass]


world = World(2000)
print("energy at start", world.energy())
for s in range(1, 151):
    world.step(0.01)
    if s % 50 == 0:
        print("step", s, "energy", world.energy(), "centre", world.centre())
