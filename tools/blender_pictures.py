"""Blender's half of tools/blender-pictures. In headless Blender:

    blender -b --factory-startup -noaudio --python blender_pictures.py -- render ORVIT ZIP WORK

builds a small scene, renders its animation with Cycles, glows it through the
add-on's buttons, prints how long each step took and saves WORK/scene.blend.
In Blender's window on a virtual X server:

    blender --factory-startup -noaudio WORK/scene.blend --python blender_pictures.py -- panel PNG

shows the Output properties scrolled to the "Orvit glow" panel and saves a
screenshot of that editor to PNG.
"""

import math
import os
import subprocess
import sys
import time

import bpy

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'tests',
                                'support'))
import blender_scenes  # noqa: E402

FRAMES = 24
SIZE = (480, 270)
SAMPLES = 32

# The glow of each surface, as a user would set it in orvit's panel.
GLOW_SCRIPT = '''\
choose "Special Buffer" 1
choose "Mode" Fixed
type "Distance" 0.05
set key 1 colour 255 230 150
set key 2 colour 255 140 40
choose "Special Buffer" 2
choose "Mode" G-Fixed
type "Distance" 0.03
set key 1 colour 150 220 255
set key 2 colour 40 90 255
ok
'''


def material(name, colour, emission):
    m = bpy.data.materials.new(name)
    m.use_nodes = True
    shader = m.node_tree.nodes['Principled BSDF']
    shader.inputs['Base Color'].default_value = colour + (1,)
    shader.inputs['Emission'].default_value = colour + (1,)
    shader.inputs['Emission Strength'].default_value = emission
    return m


def build():
    scene = blender_scenes.empty_cycles_scene(SIZE, SAMPLES)
    scene.render.filepath = '//render/shot_'
    scene.frame_start, scene.frame_end = 1, FRAMES
    background = scene.world.node_tree.nodes['Background']
    background.inputs['Color'].default_value = (0.01, 0.012, 0.02, 1)

    camera = blender_scenes.add_camera(scene, (0, -9, 2.2), 78)
    camera.data.lens = 40
    camera.data.keyframe_insert('lens', frame=1)
    camera.data.lens = 50
    camera.data.keyframe_insert('lens', frame=FRAMES)
    light = bpy.data.objects.new('Light', bpy.data.lights.new('Light', 'AREA'))
    light.data.energy = 400
    light.data.size = 4
    light.location = (2, -3, 5)
    scene.collection.objects.link(light)

    bpy.ops.mesh.primitive_plane_add(size=30, location=(0, 0, -1))
    bpy.context.active_object.data.materials.append(material('Floor', (0.1, 0.1, 0.12), 0))
    bpy.ops.mesh.primitive_torus_add(location=(-1.8, 0, 0.3), rotation=(math.radians(70), 0, 0))
    ring = bpy.context.active_object
    ring.name = 'Ring'
    ring.pass_index = 1
    ring.data.materials.append(material('Ring', (1.0, 0.55, 0.15), 0.6))
    ring.keyframe_insert('rotation_euler', frame=1)
    ring.rotation_euler.z = math.radians(90)
    ring.keyframe_insert('rotation_euler', frame=FRAMES)
    bpy.ops.mesh.primitive_ico_sphere_add(subdivisions=3, location=(1.8, 0, 0.2))
    orb = bpy.context.active_object
    orb.name = 'Orb'
    orb.pass_index = 2
    orb.data.materials.append(material('Orb', (0.2, 0.6, 1.0), 0.8))
    bpy.ops.mesh.primitive_cube_add(size=1.2, location=(0, 1.5, -0.4))
    bpy.context.active_object.name = 'Crate'
    bpy.context.active_object.data.materials.append(material('Crate', (0.5, 0.45, 0.4), 0))
    return scene


def seconds(step):
    t0 = time.monotonic()
    step()
    return time.monotonic() - t0


def render(orvit, zip_path, folder):
    bpy.ops.preferences.addon_install(filepath=zip_path)
    bpy.ops.preferences.addon_enable(module='orvit_glow')
    bpy.context.preferences.addons['orvit_glow'].preferences.orvit_path = orvit
    # Saved first, so that the output is relative to the .blend, as users keep it.
    bpy.ops.wm.save_as_mainfile(filepath=os.path.join(folder, 'scene.blend'))
    scene = build()
    bpy.ops.orvit.setup_passes()
    blender = seconds(lambda: bpy.ops.render.render(animation=True))
    write = seconds(bpy.ops.orvit.write_scene)
    scene_path = os.path.join(folder, 'render', 'shot_orvit.toml')
    subprocess.run([orvit, 'edit', scene_path, '--script', '-'], input=GLOW_SCRIPT, text=True,
                   check=True)
    glow = seconds(bpy.ops.orvit.render_glow)
    width, height = SIZE
    print(f'blender-pictures: {FRAMES} frames of {width} x {height}, Cycles {SAMPLES} samples: '
          f'Blender renders them in {blender:.1f} s; Write scene {write:.2f} s, Render glow '
          f'{glow:.2f} s ({glow / FRAMES * 1000:.0f} ms a frame)')
    bpy.ops.wm.save_mainfile()


def panel(png):
    bpy.ops.preferences.addon_enable(module='orvit_glow')

    # Each step in a timer of its own, so that the editor is drawn between.
    def show():
        window = bpy.context.window_manager.windows[0]
        # The 3D view becomes the Properties editor: wide enough for the panel.
        area = max(window.screen.areas, key=lambda a: a.width * a.height)
        area.type = 'PROPERTIES'
        later(lambda: output_tab(window, area))

    def output_tab(window, area):
        area.spaces[0].context = 'OUTPUT'
        # The pointer away from the editor, so that no tooltip shows.
        window.cursor_warp(0, 0)
        later(lambda: scroll(window, area))

    def scroll(window, area, last=None):
        # The editor scrolls only as far as it has drawn: scroll until it
        # stops moving.
        region = next(r for r in area.regions if r.type == 'WINDOW')
        with bpy.context.temp_override(window=window, area=area, region=region):
            bpy.ops.view2d.scroll_down(deltay=200)
        top = region.view2d.region_to_view(0, 0)[1]
        later(lambda: shoot(window, area) if top == last else scroll(window, area, top))

    def shoot(window, area):
        with bpy.context.temp_override(window=window, area=area):
            bpy.ops.screen.screenshot_area(filepath=png)
        bpy.ops.wm.quit_blender()

    def later(step):
        bpy.app.timers.register(lambda: step() and None, first_interval=0.5)

    bpy.app.timers.register(show, first_interval=1.0)


def main():
    arguments = sys.argv[sys.argv.index('--') + 1:]
    if arguments[0] == 'render':
        render(*arguments[1:])
    else:
        panel(*arguments[1:])


main()
