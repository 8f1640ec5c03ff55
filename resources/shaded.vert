// Passes the model's normal in eye coordinates on to the shaded and toon fragments, and
// with TEXTURED its texture coordinates; the rest is the fixed pipeline's. With GRAFTAL
// the normal is a graftal root's: the vertex colour (the root's colour) is lit there by
// light.glsl's light, which comes before this source; the secondary colour (the mark of
// graftals the fade would hide) and the third coordinates (the tint) pass on.
varying vec3 eyeNormal;

void main()
{
    gl_Position = ftransform();
    eyeNormal = gl_NormalMatrix * gl_Normal;
#ifdef GRAFTAL
    gl_FrontColor = vec4(gl_Color.rgb * light(eyeNormal), gl_Color.a);
    gl_FrontSecondaryColor = gl_SecondaryColor;
    gl_TexCoord[0] = gl_MultiTexCoord0;
    gl_TexCoord[2] = gl_MultiTexCoord2;
#else
    gl_FrontColor = gl_Color;
#endif
#ifdef TEXTURED
    gl_TexCoord[0] = gl_MultiTexCoord0;
#endif
}
